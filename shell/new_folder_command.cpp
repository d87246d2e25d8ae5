#include "new_folder_command.h"

#include <set>
#include <string>

#include <server/client/server_calls.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "message_boxes.h"
#include "storage_change_notify.h"
#include "storage_item_id.h"
#include "storage_shell_folder.h"

namespace {

// Names compared as the command compares them: A-Z folded to a-z, nothing else.
std::wstring folded(std::wstring name) {
    for (wchar_t& c : name)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return name;
}

std::wstring candidate(unsigned counter) {
    return counter == 0 ? std::wstring(L"New Folder") : L"New Folder (" + std::to_wstring(counter) + L")";
}

void make_new_folder(CStorageShellFolder& folder, HWND window) {
    auto server = folder.GetServer();
    if (!server) _com_issue_error(E_POINTER);
    // One listing serves every candidate.
    std::set<std::wstring> taken;
    auto elements = EnumElementsOrThrow(server.get());
    while (auto info = NextOrThrow(elements.get())) taken.insert(folded(GetNameOrThrow(info.get()).text()));
    unsigned counter = 0;
    while (taken.count(folded(candidate(counter)))) ++counter;
    const std::wstring name = candidate(counter);

    OpenFolderOrThrow(server.get(), name, VARIANT_TRUE);
    CIdList item = BuildStorageItemId(FindElementInfoOrThrow(server.get(), name).get());
    NotifyStorageChange(StorageChange::create, folder.StorageRootIdList(), folder.FullIdListOf(item.get()).get());
    NotifyStorageChange(StorageChange::update, folder.StorageRootIdList(), folder.AbsoluteIdList());
    if (folder.HasSite()) folder.RefreshView(window);

    auto browser = folder.GetBrowser(window);
    if (!browser) _com_issue_error(E_POINTER);
    tools::interface_holder<IShellView> view;
    HRESULT hr = browser->QueryActiveShellView(view.put());
    if (FAILED(hr)) _com_issue_error(hr);
    if (!view) _com_issue_error(E_POINTER);
    // Selected alone, scrolled into view, its name open for editing.
    view->SelectItem(item.get(), SVSI_EDIT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE | SVSI_SELECTIONMARK);
}

}  // namespace

void NewFolderCommand(CStorageShellFolder& folder, HWND window) {
    HRESULT hr = tools::com_boundary([&] { make_new_folder(folder, window); });
    if (FAILED(hr))
        shell::ShowErrorBox(folder.GetFolderOwnerWindow(window), static_cast<DWORD>(hr), L"Unable to complete operation");
}
