#include "element_store.h"

#include <tools/hresult.h>
#include <tools/element_name.h>
#include <tools/com_error.h>

#include <platform/property_set_storage.h>

#include "hashed_element_name.h"
#include "rename_record.h"

namespace {

// The child's display name when that name reaches it, else its stand-in: a child whose set is damaged,
// or whose stored name is not its own, must neither hide its siblings nor be taken for a path.
std::wstring ListedName(IPropertySetStorage* sets, const wchar_t* stored_name) {
    try {
        std::wstring name = ReadNameProperty(sets, ParseElementName(stored_name));
        if (IsValidNameText(name) && lstrcmpiW(HashedElementName(name).c_str(), stored_name) == 0) return name;
    } catch (...) {
        // Unreadable: listed under its stand-in.
    }
    return StandInName(stored_name);
}

}  // namespace

bool EnumChildren(CStorageWrapper& folder, std::vector<ChildRecord>& children) {
    try {
        children.clear();
        IStorage* storage = folder.Storage();
        if (!storage) _com_issue_error(E_POINTER);
        IEnumSTATSTG* elements = nullptr;
        HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
        folder.SetLastResult(hr);
        if (FAILED(hr)) return false;
        tools::interface_holder<IEnumSTATSTG> owned(elements);
        tools::interface_holder<IPropertySetStorage> sets;
        hr = platform::property_set_storage(storage, sets.put());
        if (FAILED(hr)) _com_issue_error(hr);
        StorageHolder self = folder.Self();
        elements->Reset();
        STATSTG stat{};
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            struct name_owner {
                LPOLESTR name;
                ~name_owner() { CoTaskMemFree(name); }
            } name{stat.pwcsName};
            if (!stat.pwcsName || stat.pwcsName[0] == L'\005') continue;
            if (stat.type != STGTY_STORAGE && stat.type != STGTY_STREAM) continue;
            if (folder.IsRoot() && IsRenameRecordName(stat.pwcsName)) continue;
            ChildRecord child;
            child.parent = self;
            child.is_folder = stat.type == STGTY_STORAGE;
            child.access_time = stat.atime;
            child.creation_time = stat.ctime;
            child.modification_time = stat.mtime;
            child.size = stat.cbSize.QuadPart;
            child.name = ListedName(sets.get(), stat.pwcsName);
            children.push_back(std::move(child));
        }
        folder.SetLastResult(S_OK);
        return true;
    } catch (...) {
        children.clear();
        folder.SetLastResult(tools::current_exception_hresult());
        return false;
    }
}
