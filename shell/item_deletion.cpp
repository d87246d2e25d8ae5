// Deleting items of a storage folder: the question, the progress window, the notifications.
#include "item_commands.h"

#include <server/client/server_calls.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "id_list_set.h"
#include "message_boxes.h"
#include "progress_window.h"
#include "storage_change_notify.h"
#include "storage_item_id.h"
#include "storage_shell_folder.h"

namespace shell {

std::wstring ItemCount(size_t count) { return std::to_wstring(count) + (count == 1 ? L" item" : L" items"); }

std::wstring DeleteQuestion(size_t count, const std::wstring& name) {
    if (count == 1) return L"Are you sure you want to delete '" + name + L"' ?";
    return L"Are you sure you want to delete " + std::to_wstring(count) + L" items ?";
}

bool AnyItemFound(IStorageFolder* folder, const std::vector<CIdList>& items) {
    for (const CIdList& item : items) {
        try {
            if (FindElementInfoOrThrow(folder, GetStorageItem(item.get())->name)) return true;
        } catch (const _com_error&) {
        }
    }
    return false;
}

bool DeleteNamedElement(HWND owner, IStorageFolder* parent, const std::wstring& name) {
    HRESULT hr = tools::com_boundary([&] { DeleteElementOrThrow(parent, name); });
    if (SUCCEEDED(hr)) return true;
    ShowErrorBox(owner, static_cast<DWORD>(hr), (L"Unable to delete '" + name + L"'").c_str());
    return false;
}

void DeleteItems(CStorageShellFolder& folder, HWND owner, IDataObject* selection, bool after_move) {
    IdListSet set;
    const size_t count = GetShellIdList(set, selection);
    if (count == 0) return;
    auto server = folder.GetServer();
    if (!AnyItemFound(server.get(), set.children)) return;
    std::vector<std::wstring> names;
    for (const CIdList& item : set.children) names.emplace_back(GetStorageItem(item.get())->name);
    if (!after_move &&
        MessageBoxW(BoxOwner(owner), DeleteQuestion(count, names[0]).c_str(), box_caption, MB_YESNO | MB_ICONQUESTION) !=
            IDYES)
        return;

    auto progress = RunProgressWindow(
        ShellProgress(count == 1 ? 4 : 5, owner, L"Deleting...", L"Deleting " + ItemCount(count)));
    IProgressWindow& window = progress->Window();
    if (!after_move) window.SetRange(0, count);
    for (size_t i = 0; i < count; ++i) {
        // A cancelled run stops before the next item; what is deleted stays deleted.
        if (window.IsCancelled()) break;
        if (!after_move) {
            window.SetText2(L"Deleting '" + names[i] + L"'");
            window.SetText3(ItemCount(count - i) + L" remaining");
            AdvanceProgress(window, 1);
        }
        HRESULT hr = tools::com_boundary([&] { DeleteElementOrThrow(server.get(), names[i]); });
        if (FAILED(hr)) {
            // The caller's window owns the box: the progress window is about to go, and its box with it.
            MessageBoxW(BoxOwner(owner), (L"Unable to delete '" + names[i] + L"'").c_str(), box_caption, MB_ICONERROR);
            break;
        }
        const CIdList full = CombineIdLists(folder.AbsoluteIdList(), set.children[i].get());
        NotifyStorageChange(StorageChange::remove, folder.StorageRootIdList(), full.get());
    }
    NotifyStorageChange(StorageChange::update, folder.StorageRootIdList(), folder.AbsoluteIdList());
    folder.RefreshView(owner);
}

}  // namespace shell
