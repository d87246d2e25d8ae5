// Deleting items of a storage folder: the question, the progress window, the notifications.
#include "item_commands.h"

#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
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

namespace {

bool ItemFound(IStorageFolder* folder, const CIdList& item) {
    try {
        return static_cast<bool>(FindElementInfoOrThrow(folder, GetStorageItem(item.get())->name));
    } catch (const _com_error&) {
        return false;
    }
}

std::unique_ptr<CProgressController> DeletionProgress(HWND owner, size_t count) {
    return RunProgressWindow(
        ShellProgress(count == 1 ? 4 : 5, owner, L"Deleting...", L"Deleting " + ItemCount(count)));
}

// The caller's window owns the box: the progress window is about to go, and its box with it.
void ShowDeleteFailure(HWND owner, const std::wstring& name) {
    MessageBoxW(BoxOwner(owner), (L"Unable to delete '" + name + L"'").c_str(), box_caption, MB_ICONERROR);
}

void NotifyRemoved(CStorageShellFolder& folder, const CIdList& item) {
    const CIdList full = CombineIdLists(folder.AbsoluteIdList(), item.get());
    NotifyStorageChange(StorageChange::remove, folder.StorageRootIdList(), full.get());
}

void NotifyFolderChanged(CStorageShellFolder& folder, HWND owner) {
    NotifyStorageChange(StorageChange::update, folder.StorageRootIdList(), folder.AbsoluteIdList());
    folder.RefreshView(owner);
}

bool IsGone(HRESULT hr) { return hr == E_NOINTERFACE || hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND; }

// Deletes one entry of a move while it is still what the target received: a file still the element it was given,
// at the size it was listed with; a folder with nothing left in it. S_FALSE when it stays or is gone already.
HRESULT DeleteMovedEntry(IStorageFolder* top, const MovedEntry& entry) {
    const HRESULT hr = tools::com_boundary([&]() -> HRESULT {
        const size_t cut = entry.path.rfind(L'\\');
        const std::wstring name = cut == std::wstring::npos ? entry.path : entry.path.substr(cut + 1);
        auto parent = cut == std::wstring::npos ? server_ptr<IStorageFolder>::add_ref(top)
                                                : OpenFolderOrThrow(top, entry.path.substr(0, cut), VARIANT_FALSE);
        const bool stays = [&] {
            if (entry.is_folder)
                return !!NextOrThrow(EnumElementsOrThrow(OpenFolderOrThrow(parent.get(), name, VARIANT_FALSE).get()).get());
            // A file put under the name after it was read is another element, which the target never saw.
            auto element = FindElementOrThrow(parent.get(), name);
            return GetStorageId(element.get()) != entry.received || GetSizeOrThrow(element.get()) != entry.size;
        }();
        if (stays) return S_FALSE;
        DeleteElementOrThrow(parent.get(), name);
        return S_OK;
    });
    return IsGone(hr) ? S_FALSE : hr;
}

}  // namespace

bool AnyItemFound(IStorageFolder* folder, const std::vector<CIdList>& items) {
    for (const CIdList& item : items)
        if (ItemFound(folder, item)) return true;
    return false;
}

bool DeleteNamedElement(HWND owner, IStorageFolder* parent, const std::wstring& name) {
    HRESULT hr = tools::com_boundary([&] { DeleteElementOrThrow(parent, name); });
    if (SUCCEEDED(hr)) return true;
    ShowErrorBox(owner, static_cast<DWORD>(hr), (L"Unable to delete '" + name + L"'").c_str());
    return false;
}

void DeleteItems(CStorageShellFolder& folder, HWND owner, IDataObject* selection) {
    IdListSet set;
    const size_t count = GetShellIdList(set, selection);
    if (count == 0) return;
    auto server = folder.GetServer();
    if (!AnyItemFound(server.get(), set.children)) return;
    std::vector<std::wstring> names;
    for (const CIdList& item : set.children) names.emplace_back(GetStorageItem(item.get())->name);
    if (MessageBoxW(BoxOwner(owner), DeleteQuestion(count, names[0]).c_str(), box_caption, MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return;

    auto progress = DeletionProgress(owner, count);
    IProgressWindow& window = progress->Window();
    window.SetRange(0, count);
    for (size_t i = 0; i < count; ++i) {
        // A cancelled run stops before the next item; what is deleted stays deleted.
        if (window.IsCancelled()) break;
        window.SetText2(L"Deleting '" + names[i] + L"'");
        window.SetText3(ItemCount(count - i) + L" remaining");
        AdvanceProgress(window, 1);
        HRESULT hr = tools::com_boundary([&] { DeleteElementOrThrow(server.get(), names[i]); });
        if (FAILED(hr)) {
            ShowDeleteFailure(owner, names[i]);
            break;
        }
        NotifyRemoved(folder, set.children[i]);
    }
    NotifyFolderChanged(folder, owner);
}

void DeleteMovedItems(CStorageShellFolder& folder, HWND owner, const std::vector<CIdList>& items,
                      const std::vector<MovedEntry>& entries) {
    auto server = folder.GetServer();
    if (items.empty() || !AnyItemFound(server.get(), items)) return;
    auto progress = DeletionProgress(owner, items.size());
    IProgressWindow& window = progress->Window();
    // The files first, so that a folder is judged by what is left in it; its contents come after it in the list.
    std::vector<const MovedEntry*> order;
    for (const MovedEntry& entry : entries)
        if (!entry.is_folder && entry.received != GUID_NULL) order.push_back(&entry);
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
        if (entry->is_folder) order.push_back(&*entry);
    for (const MovedEntry* entry : order) {
        if (window.IsCancelled()) break;
        if (FAILED(DeleteMovedEntry(server.get(), *entry))) {
            ShowDeleteFailure(owner, entry->path);
            break;
        }
    }
    for (const CIdList& item : items)
        if (!ItemFound(server.get(), item)) NotifyRemoved(folder, item);
    NotifyFolderChanged(folder, owner);
}

}  // namespace shell
