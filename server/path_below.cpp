#include "element_store.h"

#include <algorithm>

#include <tools/interface_holder.h>

#include "hashed_element_name.h"

namespace {

// The folder at path (display names from where the walk began), read through its holder when it is open already:
// the platform opens no storage twice.
StorageHolder folder_below(CStorageWrapper& parent, const std::vector<std::wstring>& path,
                           const OpenFolderFinder& open_folders) {
    if (open_folders)
        if (StorageHolder held = open_folders(path)) return held;
    IStorage* storage = parent.Storage();
    if (!storage) throw static_cast<long>(E_POINTER);
    IStorage* child = nullptr;
    // Opened as the store opens its folders: the property sets inside are read in that mode.
    HRESULT hr = storage->OpenStorage(HashedElementName(path.back()).c_str(), nullptr,
                                      STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, &child);
    if (FAILED(hr)) throw static_cast<long>(hr);
    tools::interface_holder<IStorage> owned(child);
    return CStorageWrapper::Make(child, parent.Self());
}

size_t longest_below(CStorageWrapper& folder, std::vector<std::wstring>& path, const OpenFolderFinder& open_folders) {
    std::vector<ChildRecord> children;
    if (!EnumChildren(folder, children)) throw static_cast<long>(folder.LastResult());
    size_t longest = 0;
    for (const ChildRecord& child : children) {
        std::wstring stored;
        // No display path reaches a child listed under its stand-in, nor anything inside it.
        if (StoredNameOfStandIn(child.name, stored)) continue;
        size_t below = 0;
        if (child.is_folder) {
            path.push_back(child.name);
            below = longest_below(*folder_below(folder, path, open_folders), path, open_folders);
            path.pop_back();
        }
        longest = std::max(longest, 1 + child.name.size() + below);
    }
    return longest;
}

}  // namespace

size_t LongestPathBelow(CStorageWrapper& folder, const std::wstring& name, const OpenFolderFinder& open_folders) {
    std::vector<std::wstring> path{name};
    return longest_below(*folder_below(folder, path, open_folders), path, open_folders);
}
