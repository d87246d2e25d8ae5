#include "item_menu.h"

#include <windows.h>
// The bounded copies only; the deprecation of every other string routine is not for this file.
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/win_except.h>
#include "clipboard_commands.h"
#include "extract_items.h"
#include "id_list_set.h"
#include "item_commands.h"
#include "message_boxes.h"
#include "shell_registration.h"
#include "storage_item_id.h"
#include "storage_shell_folder.h"
#include "transfer_items.h"

namespace {

constexpr UINT get_help_text_message = 11;  // DFM_GETHELPTEXTW
constexpr wchar_t check_help[] = L"Test whether selected file or group of files were corrupted or not.";
constexpr wchar_t extract_help[] = L"Extract selected object(s) to a folder on the computer.";

void insert(HMENU menu, UINT position, UINT id, const wchar_t* text) {
    if (!InsertMenuW(menu, position, MF_BYPOSITION | MF_STRING, id, text)) tools::throw_last_error();
}

}  // namespace

SelectionKind ClassifySelection(IDataObject* data) {
    IdListSet items;
    GetShellIdList(items, data);
    size_t folders = 0, files = 0;
    for (const CIdList& item : items.children)
        (GetStorageItem(item.get())->type == FolderElementType ? folders : files) += 1;
    if (files == 1 && folders == 0) return SelectionKind::one_file;
    if (folders == 1 && files == 0) return SelectionKind::one_folder;
    if (files > 1 && folders == 0) return SelectionKind::files;
    if (folders > 1 && files == 0) return SelectionKind::folders;
    return SelectionKind::mixed;
}

HRESULT MergeItemMenu(QCMINFO& qcm, CStorageShellFolder& folder, IDataObject* data, UINT flags, int shell_version) {
    return tools::com_boundary([&] {
        const SelectionKind kind = ClassifySelection(data);
        folder.SetFirstItemCommand(qcm.idCmdFirst);
        if (kind == SelectionKind::one_folder) {
            UINT position = qcm.indexMenu;
            if (shell_version < 3 && (flags & (0x00000001 | 0x00020000)))
                insert(qcm.hmenu, position++, qcm.idCmdFirst + open_item_command, L"Open");
            insert(qcm.hmenu, position, qcm.idCmdFirst + check_items_command, L"Check integrity");
            insert(qcm.hmenu, position + 1, qcm.idCmdFirst + extract_items_command, L"Extract to...");
        } else {
            insert(qcm.hmenu, qcm.indexMenu, qcm.idCmdFirst + check_items_command, L"Check integrity");
            insert(qcm.hmenu, qcm.indexMenu, qcm.idCmdFirst + extract_items_command, L"Extract to...");
        }
        qcm.idCmdFirst += 3;
    });
}

HRESULT MergeItemMenu(QCMINFO& qcm, CStorageShellFolder& folder, IDataObject* data, UINT flags) {
    return MergeItemMenu(qcm, folder, data, flags, shell::GetShellVersionClass());
}

HRESULT DispatchItemCommand(CStorageShellFolder& folder, HWND window, IDataObject* data, UINT command) {
    return tools::com_boundary([&]() -> HRESULT {
        switch (command) {
        case open_item_command: OpenItem(folder, window, data); return S_OK;
        case check_items_command: shell::CheckItems(folder, window, data); return S_OK;
        case extract_items_command: return ExtractItems(folder, window, data);
        case DFM_CMD_DELETE: shell::DeleteItems(folder, window, data); return S_OK;
        case DFM_CMD_PROPERTIES: {
            // The shell offers the sheet for one item; a sheet is shown for the first.
            IdListSet items;
            if (GetShellIdList(items, data)) shell::ShowItemProperties(folder, window, items.children[0].get());
            return S_OK;
        }
        case DFM_CMD_MOVE: CutToClipboard(window, data); return S_OK;
        case DFM_CMD_COPY: CopyToClipboard(window, data); return S_OK;
        case DFM_CMD_PASTE: PasteFromClipboard(folder, window); return S_OK;
        default: return E_NOTIMPL;
        }
    });
}

HRESULT CALLBACK ItemMenuCallback(IShellFolder* shell_folder, HWND window, IDataObject* data, UINT message,
                                  WPARAM wparam, LPARAM lparam) {
    return tools::com_boundary([&]() -> HRESULT {
        auto folder = CStorageShellFolder::FromShellFolder(shell_folder);
        if (!folder) return E_NOTIMPL;
        HRESULT hr = E_NOTIMPL;
        switch (message) {
        case DFM_MERGECONTEXTMENU:
            if (!lparam) return E_INVALIDARG;
            hr = MergeItemMenu(*reinterpret_cast<QCMINFO*>(lparam), *folder.get(), data, static_cast<UINT>(wparam));
            break;
        case DFM_INVOKECOMMAND:
            hr = DispatchItemCommand(*folder.get(), window, data, static_cast<UINT>(wparam));
            break;
        case get_help_text_message: {
            const UINT offset = LOWORD(wparam);
            const wchar_t* help =
                offset == check_items_command ? check_help : offset == extract_items_command ? extract_help : nullptr;
            if (!help || !lparam) return E_NOTIMPL;
            return SUCCEEDED(StringCchCopyW(reinterpret_cast<LPWSTR>(lparam), HIWORD(wparam), help)) ? S_OK
                                                                                                    : E_OUTOFMEMORY;
        }
        default:
            return E_NOTIMPL;
        }
        // E_NOTIMPL leaves a command to the shell: it is no failure to report.
        if (FAILED(hr) && hr != E_NOTIMPL)
            shell::ShowErrorBox(window, static_cast<DWORD>(hr), L"Unable to complete operation");
        return hr;
    });
}

void OpenItem(CStorageShellFolder& folder, HWND window, IDataObject* data) {
    IdListSet items;
    if (GetShellIdList(items, data) != 1) return;
    auto browser = folder.GetBrowser(window);
    if (browser) browser->BrowseObject(items.children[0].get(), SBSP_SAMEBROWSER | SBSP_RELATIVE);
}
