#include "storage_selection.h"

#include <shellapi.h>

#include <server/client/storage_properties.h>
#include <tools/com_error.h>
#include "storage_at_path.h"
#include "storage_freeze_query.h"
#include "storage_unlock.h"

namespace shell {

namespace {

// The one file of the data object's CF_HDROP list; empty when it has no such list.
std::wstring SingleDroppedFile(IDataObject* data) {
    if (!data) return {};
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) return {};
    struct released {
        STGMEDIUM& medium;
        ~released() { ReleaseStgMedium(&medium); }
    } release{medium};
    auto drop = static_cast<HDROP>(medium.hGlobal);
    if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != 1) _com_issue_error(E_INVALIDARG);
    std::wstring path(DragQueryFileW(drop, 0, nullptr, 0), L'\0');
    path.resize(DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1)));
    return path;
}

}  // namespace

std::wstring SelectedStoragePath(const ITEMIDLIST* folder, IDataObject* data) {
    std::wstring path;
    if (!folder) {
        path = SingleDroppedFile(data);
    } else {
        wchar_t folder_path[MAX_PATH] = L"";
        if (SHGetPathFromIDListW(folder, folder_path)) path = folder_path;
    }
    if (path.empty()) _com_issue_error(E_FAIL);
    return path;
}

StorageCommandState ReadStorageCommandState(const std::wstring& path) {
    StorageCommandState state;
    state.frozen = IsStorageFrozenAtPath(path);
    auto root = OpenStorageAtPath(path);
    state.storage_id = GetStorageId(root.get());
    state.installed_key = FindInstalledKey(root.get());
    state.flags = GetStorageFlags(root.get());
    return state;
}

}  // namespace shell
