#include "element_store.h"

#include <tools/com_error.h>
#include <tools/element_name.h>
#include <tools/hresult.h>
#include <tools/named_property.h>
#include <tools/text.h>

#include <platform/property_set_storage.h>
#include <platform/rename_element.h>

#include "rename_record.h"

#include <utility>
#include <vector>

namespace {

constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

using tools::check;

IStorage* storage_of(CStorageWrapper& folder) {
    if (!folder.Storage()) _com_issue_error(E_POINTER);
    return folder.Storage();
}

// A child's set lies in its folder, beside it.
tools::interface_holder<IPropertySetStorage> child_sets(CStorageWrapper& folder) {
    tools::interface_holder<IPropertySetStorage> sets;
    check(platform::property_set_storage(storage_of(folder), sets.put()));
    return sets;
}

void validate(CStorageWrapper& folder, const std::wstring& name) {
    if (!ValidateElementName(folder, name)) throw static_cast<long>(STG_E_INVALIDNAME);
}

struct bstr_variant {
    explicit bstr_variant(const std::wstring& text) {
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!value.bstrVal) throw std::bad_alloc();
    }
    ~bstr_variant() { VariantClear(&value); }
    VARIANT value;
};

template <class Holder, class Open>
Holder open_child(CStorageWrapper& folder, const std::wstring& name, bool create, Open open) {
    try {
        validate(folder, name);
        GUID fmtid = ElementNameHash(name);
        std::wstring hashed = HashedElementName(fmtid);
        StorageHolder self = folder.Self();
        if (!self) _com_issue_error(E_POINTER);
        bstr_variant name_value(name), id_value(tools::guid_to_string(tools::new_guid()));
        Holder child = open(storage_of(folder), hashed, self);
        if (!create) {
            folder.SetLastResult(S_OK);
            return child;
        }
        // The create succeeded, so no element had this name: a set under its hash was left behind by one
        // that is gone, and must not lend its properties to the new one.
        HRESULT hr = DropPropertySet(child_sets(folder).get(), fmtid);
        if (SUCCEEDED(hr) && !(child->WriteProperty(ElementNameProperty, name_value.value) &&
                               child->WriteProperty(ElementIdProperty, id_value.value)))
            hr = child->LastResult();
        if (FAILED(hr)) {
            // No element without its name and identity: the new one and its set go again.
            child.release();
            storage_of(folder)->DestroyElement(hashed.c_str());
            DropPropertySet(child_sets(folder).get(), fmtid);
            throw static_cast<long>(hr);
        }
        folder.SetLastResult(S_OK);
        return child;
    } catch (...) {
        folder.SetLastResult(tools::current_exception_hresult());
        return Holder();
    }
}

}  // namespace

HRESULT DropPropertySet(IPropertySetStorage* sets, const GUID& fmtid) {
    HRESULT hr = sets->Delete(fmtid);
    return hr == STG_E_FILENOTFOUND ? S_OK : hr;
}

DWORD StoredChildType(IStorage* storage, const std::wstring& stored_name) {
    IEnumSTATSTG* elements = nullptr;
    check(storage->EnumElements(0, nullptr, 0, &elements));
    DWORD type = 0;
    STATSTG stat{};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        if (lstrcmpiW(stat.pwcsName, stored_name.c_str()) == 0) type = stat.type;
        CoTaskMemFree(stat.pwcsName);
    }
    elements->Release();
    return type;
}

std::wstring ReadNameProperty(IPropertySetStorage* sets, const GUID& fmtid) {
    VARIANT value;
    ReadNamedProperty(sets, fmtid, ElementNameProperty, &value);
    if (value.vt != VT_BSTR || !value.bstrVal) {
        VariantClear(&value);
        _com_issue_error(E_FAIL);
    }
    std::wstring name(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    return name;
}

void DeletePropertySet(IPropertySetStorage* sets, const GUID& fmtid) {
    if (!sets) _com_issue_error(E_POINTER);
    check(sets->Delete(fmtid));
}

StorageHolder OpenChildStorage(CStorageWrapper& folder, const std::wstring& name, bool create) {
    return open_child<StorageHolder>(folder, name, create, [&](IStorage* storage, const std::wstring& hashed, const StorageHolder& self) {
        IStorage* child = nullptr;
        HRESULT hr = create ? storage->CreateStorage(hashed.c_str(), child_mode, 0, 0, &child)
                            : storage->OpenStorage(hashed.c_str(), nullptr, child_mode, nullptr, 0, &child);
        folder.SetLastResult(hr);
        if (FAILED(hr)) throw static_cast<long>(hr);
        tools::interface_holder<IStorage> owned(child);
        return CStorageWrapper::Make(child, self);
    });
}

StreamHolder OpenChildStream(CStorageWrapper& folder, const std::wstring& name, bool create) {
    return open_child<StreamHolder>(folder, name, create, [&](IStorage* storage, const std::wstring& hashed, const StorageHolder& self) {
        IStream* child = nullptr;
        HRESULT hr = create ? storage->CreateStream(hashed.c_str(), child_mode, 0, 0, &child)
                            : storage->OpenStream(hashed.c_str(), nullptr, child_mode, 0, &child);
        folder.SetLastResult(hr);
        if (FAILED(hr)) throw static_cast<long>(hr);
        tools::interface_holder<IStream> owned(child);
        return StreamHolder(new CStreamWrapper(child, hashed, self));
    });
}

HRESULT CheckRename(CStorageWrapper& folder, const std::wstring& old_name, const std::wstring& new_name,
                    const OpenFolderFinder& open_folders) {
    if (!ValidateElementName(folder, new_name)) return STG_E_INVALIDNAME;
    GUID old_fmtid = ElementNameHash(old_name), new_fmtid = ElementNameHash(new_name);
    IStorage* storage = storage_of(folder);
    const DWORD type = StoredChildType(storage, HashedElementName(old_fmtid));
    if (!type) return STG_E_FILENOTFOUND;
    if (!IsEqualGUID(old_fmtid, new_fmtid) && StoredChildType(storage, HashedElementName(new_fmtid)))
        return STG_E_FILEALREADYEXISTS;
    // Everything inside a folder moves with it: the store refuses what it could no longer open.
    if (type == STGTY_STORAGE && !ValidateElementName(folder, new_name, LongestPathBelow(folder, old_name, open_folders)))
        return STG_E_INVALIDNAME;
    return S_OK;
}

bool DeleteChild(CStorageWrapper& folder, const std::wstring& name) {
    try {
        std::wstring stored;
        GUID fmtid{};
        bool has_set = true;
        if (StoredNameOfStandIn(name, stored)) {
            // Its set is the one its compound-file name stands for, when that name is a hash at all.
            try {
                fmtid = ParseElementName(stored);
                has_set = lstrcmpiW(HashedElementName(fmtid).c_str(), stored.c_str()) == 0;
            } catch (...) {
                has_set = false;
            }
        } else {
            fmtid = ElementNameHash(name);
            stored = HashedElementName(fmtid);
        }
        HRESULT hr = storage_of(folder)->DestroyElement(stored.c_str());
        folder.SetLastResult(hr);
        if (FAILED(hr)) return false;
        if (has_set) check(DropPropertySet(child_sets(folder).get(), fmtid));
        return folder.CommitStorage();
    } catch (...) {
        folder.SetLastResult(tools::current_exception_hresult());
        return false;
    }
}

namespace {

// Every property of a set, read with its name (or id where it has none).
struct set_contents {
    std::vector<std::pair<PROPSPEC, PROPVARIANT>> entries;
    std::vector<std::wstring> names;  // kept apart so that the specs' pointers stay put
    set_contents() = default;
    set_contents(const set_contents&) = delete;
    ~set_contents() {
        for (auto& entry : entries) PropVariantClear(&entry.second);
    }
};

void read_all(IPropertyStorage* set, set_contents& contents) {
    IEnumSTATPROPSTG* enumerator = nullptr;
    check(set->Enum(&enumerator));
    tools::interface_holder<IEnumSTATPROPSTG> owned(enumerator);
    STATPROPSTG stat{};
    std::vector<std::pair<PROPID, std::wstring>> listed;
    while (enumerator->Next(1, &stat, nullptr) == S_OK) {
        std::wstring name = stat.lpwstrName ? stat.lpwstrName : L"";
        CoTaskMemFree(stat.lpwstrName);
        listed.emplace_back(stat.propid, std::move(name));
    }
    contents.names.reserve(listed.size());
    for (auto& [id, name] : listed) {
        PROPSPEC spec{};
        if (name.empty()) {
            spec.ulKind = PRSPEC_PROPID;
            spec.propid = id;
        } else {
            contents.names.push_back(name);
            spec.ulKind = PRSPEC_LPWSTR;
            spec.lpwstr = contents.names.back().data();
        }
        PROPVARIANT value;
        PropVariantInit(&value);
        check(set->ReadMultiple(1, &spec, &value));
        contents.entries.emplace_back(spec, value);
    }
}

// The element's identity among its properties, empty when it has none.
std::wstring identity_of(const set_contents& contents) {
    std::wstring key = tools::guid_to_string(ElementIdProperty);
    for (const auto& [spec, value] : contents.entries)
        if (spec.ulKind == PRSPEC_LPWSTR && lstrcmpiW(spec.lpwstr, key.c_str()) == 0 && value.vt == VT_BSTR && value.bstrVal)
            return std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
    return std::wstring();
}

// The root's storage, and the compound-file names of the folders from the root down to folder.
IStorage* root_and_path(CStorageWrapper& folder, std::vector<std::wstring>& path) {
    StorageHolder keep;
    CStorageWrapper* current = &folder;
    for (; !current->IsRoot(); keep = current->GetParent(), current = keep.get()) {
        STATSTG stat{};
        check(storage_of(*current)->Stat(&stat, STATFLAG_DEFAULT));
        std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
        CoTaskMemFree(stat.pwcsName);
        path.insert(path.begin(), std::move(name));
    }
    // The root stays open while folder, which holds it through its parents, lives.
    return storage_of(*current);
}

}  // namespace

bool RenameChild(CStorageWrapper& folder, const std::wstring& old_name, const std::wstring& new_name) {
    try {
        check(CheckRename(folder, old_name, new_name));
        GUID old_fmtid = ElementNameHash(old_name), new_fmtid = ElementNameHash(new_name);
        std::wstring old_hashed = HashedElementName(old_fmtid), new_hashed = HashedElementName(new_fmtid);
        IStorage* storage = storage_of(folder);
        auto sets = child_sets(folder);
        bstr_variant name_value(new_name);

        if (IsEqualGUID(old_fmtid, new_fmtid)) {
            // Only the letter case changes: the element and its set stay where they are.
            WriteNamedProperty(sets.get(), old_fmtid, ElementNameProperty, name_value.value);
            return folder.CommitStorage();
        }

        // The new set is complete before the element moves; the old one goes only after it moved.
        set_contents contents;
        read_all(OpenPropertySet(sets.get(), old_fmtid).get(), contents);
        std::wstring name_key = tools::guid_to_string(ElementNameProperty);
        std::vector<PROPSPEC> specs;
        std::vector<PROPVARIANT> values;
        bool named = false;
        for (auto& [spec, value] : contents.entries) {
            specs.push_back(spec);
            values.push_back(value);
            if (spec.ulKind == PRSPEC_LPWSTR && lstrcmpiW(spec.lpwstr, name_key.c_str()) == 0) {
                values.back() = *reinterpret_cast<PROPVARIANT*>(&name_value.value);
                named = true;
            }
        }
        if (!named) {
            PROPSPEC spec{};
            spec.ulKind = PRSPEC_LPWSTR;
            spec.lpwstr = name_key.data();
            specs.push_back(spec);
            values.push_back(*reinterpret_cast<PROPVARIANT*>(&name_value.value));
        }

        // The root records the rename until it is done, so that one a crash cuts short is settled at the next open.
        RenameRecord record;
        IStorage* root = root_and_path(folder, record.folder);
        record.old_name = old_hashed;
        record.new_name = new_hashed;
        record.element_id = identity_of(contents);
        check(WriteRenameRecord(root, record));
        HRESULT hr = tools::com_boundary([&] {
            check(DropPropertySet(sets.get(), new_fmtid));
            auto new_set = OpenPropertySet(sets.get(), new_fmtid);
            check(new_set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), values.data(), 2));
            check(new_set->Commit(STGC_DEFAULT));
            new_set.reset();
            // The platform keeps writes in memory until a commit: the copy's set is on disk before the copy
            // begins, and the copy is whole on disk, and recorded so, before the old element begins to go.
            check(storage->Commit(STGC_DEFAULT));
            check(platform::rename_element(storage, old_hashed.c_str(), new_hashed.c_str(), [&] {
                HRESULT hr = storage->Commit(STGC_DEFAULT);
                if (SUCCEEDED(hr)) hr = MarkRenameCopied(root);
                if (SUCCEEDED(hr)) record.copied = true;
                return hr;
            }));
            check(storage->Commit(STGC_DEFAULT));
            // The element has moved with its properties; a set left behind is no element's and harms nothing.
            DropPropertySet(sets.get(), old_fmtid);
        });
        if (FAILED(hr)) {
            // Settled as an interrupted rename is at the next open, which tries again when this fails too.
            if (SUCCEEDED(SettleRename(storage, record))) RemoveRenameRecord(root);
            throw static_cast<long>(hr);
        }
        check(RemoveRenameRecord(root));
        return folder.CommitStorage();
    } catch (...) {
        folder.SetLastResult(tools::current_exception_hresult());
        return false;
    }
}
