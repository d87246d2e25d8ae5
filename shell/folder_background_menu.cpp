// The folder's background menu (a right click on empty space in the folder's view): New Folder, and the shell's
// "paste" verb.
#include <windows.h>
// The bounded copies only; the deprecation of every other string routine is not for this file.
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include <tools/hresult.h>
#include "message_boxes.h"
#include "new_folder_command.h"
#include "storage_shell_folder.h"
#include "transfer_items.h"

namespace {

constexpr char new_folder_verb[] = "ors:new_folder";
constexpr wchar_t new_folder_verb_wide[] = L"ors:new_folder";
constexpr char new_folder_help[] = "Create a new folder.";
constexpr wchar_t new_folder_help_wide[] = L"Create a new folder.";

enum background_command : UINT { new_folder_command = 0, paste_command = 1 };

HRESULT copied(HRESULT hr) { return SUCCEEDED(hr) ? S_OK : E_OUTOFMEMORY; }

}  // namespace

STDMETHODIMP CStorageShellFolder::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT, UINT flags) {
    if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    if (!InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, first, L"New Folder"))
        return HRESULT_FROM_WIN32(GetLastError());
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CStorageShellFolder::GetCommandString(UINT_PTR offset, UINT type, UINT*, LPSTR buffer, UINT size) {
    if (offset != new_folder_command) return E_INVALIDARG;
    if (!buffer) return E_OUTOFMEMORY;
    auto* wide = reinterpret_cast<LPWSTR>(buffer);
    switch (type) {
    case GCS_VERBA: return copied(StringCchCopyA(buffer, size, new_folder_verb));
    case GCS_HELPTEXTA: return copied(StringCchCopyA(buffer, size, new_folder_help));
    case GCS_VERBW: return copied(StringCchCopyW(wide, size, new_folder_verb_wide));
    case GCS_HELPTEXTW: return copied(StringCchCopyW(wide, size, new_folder_help_wide));
    default: return S_OK;
    }
}

STDMETHODIMP CStorageShellFolder::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    UINT command = 0;
    if (IS_INTRESOURCE(info->lpVerb))
        command = LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb));
    else if (!strcmp(info->lpVerb, new_folder_verb))
        command = new_folder_command;
    else if (!strcmp(info->lpVerb, "paste"))
        command = paste_command;
    else
        return E_NOTIMPL;
    if (command != new_folder_command && command != paste_command) return E_NOTIMPL;
    HRESULT hr = tools::com_boundary([&] {
        if (command == new_folder_command)
            NewFolderCommand(*this, info->hwnd);
        else
            PasteFromClipboard(*this, info->hwnd);
    });
    if (FAILED(hr))
        shell::ShowErrorBox(GetFolderOwnerWindow(info->hwnd), static_cast<DWORD>(hr), L"Unable to complete operation");
    return S_OK;
}
