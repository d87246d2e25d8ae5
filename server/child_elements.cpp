#include "element_store.h"

#include <tools/com_error.h>
#include <tools/element_name.h>
#include <tools/hresult.h>
#include <tools/named_property.h>
#include <tools/text.h>

#include <platform/property_set_storage.h>
#include <platform/rename_element.h>

#include <utility>
#include <vector>

namespace {

constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

void check(HRESULT hr) {
    if (FAILED(hr)) throw static_cast<long>(hr);
}

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

// A set that is no longer (or not yet) any element's; its absence is what we want.
HRESULT drop_set(IPropertySetStorage* sets, const GUID& fmtid) {
    HRESULT hr = sets->Delete(fmtid);
    return hr == STG_E_FILENOTFOUND ? S_OK : hr;
}

// The type of the child with that compound-file name, 0 when there is none.
DWORD child_type(IStorage* storage, const std::wstring& name) {
    IEnumSTATSTG* elements = nullptr;
    check(storage->EnumElements(0, nullptr, 0, &elements));
    DWORD type = 0;
    STATSTG stat{};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        if (lstrcmpiW(stat.pwcsName, name.c_str()) == 0) type = stat.type;
        CoTaskMemFree(stat.pwcsName);
    }
    elements->Release();
    return type;
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
        HRESULT hr = drop_set(child_sets(folder).get(), fmtid);
        if (SUCCEEDED(hr) && !(child->WriteProperty(ElementNameProperty, name_value.value) &&
                               child->WriteProperty(ElementIdProperty, id_value.value)))
            hr = child->LastResult();
        if (FAILED(hr)) {
            // No element without its name and identity: the new one and its set go again.
            child.release();
            storage_of(folder)->DestroyElement(hashed.c_str());
            drop_set(child_sets(folder).get(), fmtid);
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
        if (has_set) check(drop_set(child_sets(folder).get(), fmtid));
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

}  // namespace

bool RenameChild(CStorageWrapper& folder, const std::wstring& old_name, const std::wstring& new_name) {
    try {
        validate(folder, new_name);
        GUID old_fmtid = ElementNameHash(old_name), new_fmtid = ElementNameHash(new_name);
        std::wstring old_hashed = HashedElementName(old_fmtid), new_hashed = HashedElementName(new_fmtid);
        IStorage* storage = storage_of(folder);
        auto sets = child_sets(folder);
        if (!child_type(storage, old_hashed)) throw static_cast<long>(STG_E_FILENOTFOUND);
        bstr_variant name_value(new_name);

        if (IsEqualGUID(old_fmtid, new_fmtid)) {
            // Only the letter case changes: the element and its set stay where they are.
            WriteNamedProperty(sets.get(), old_fmtid, ElementNameProperty, name_value.value);
            return folder.CommitStorage();
        }
        if (child_type(storage, new_hashed)) throw static_cast<long>(STG_E_FILEALREADYEXISTS);

        // The new set is complete before the element moves; the old one goes only after it moved.
        set_contents contents;
        read_all(OpenPropertySet(sets.get(), old_fmtid).get(), contents);
        check(drop_set(sets.get(), new_fmtid));
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
        {
            auto new_set = OpenPropertySet(sets.get(), new_fmtid);
            HRESULT hr = new_set->WriteMultiple(static_cast<ULONG>(specs.size()), specs.data(), values.data(), 2);
            if (SUCCEEDED(hr)) hr = new_set->Commit(STGC_DEFAULT);
            new_set.reset();
            if (FAILED(hr)) {
                drop_set(sets.get(), new_fmtid);
                throw static_cast<long>(hr);
            }
        }
        HRESULT hr = platform::rename_element(storage, old_hashed.c_str(), new_hashed.c_str());
        if (FAILED(hr)) {
            drop_set(sets.get(), new_fmtid);
            throw static_cast<long>(hr);
        }
        // The element has moved with its properties; a set left behind is no element's and harms nothing.
        drop_set(sets.get(), old_fmtid);
        return folder.CommitStorage();
    } catch (...) {
        folder.SetLastResult(tools::current_exception_hresult());
        return false;
    }
}
