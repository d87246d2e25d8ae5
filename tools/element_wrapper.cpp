#include "element_wrapper.h"
#include "com_error.h"
#include "element_name.h"
#include "hresult.h"
#include "named_property.h"

#include <platform/property_set_storage.h>

namespace {

tools::interface_holder<IPropertySetStorage> sets_of(IStorage* storage) {
    if (!storage) _com_issue_error(E_POINTER);
    tools::interface_holder<IPropertySetStorage> sets;
    HRESULT hr = platform::property_set_storage(storage, sets.put());
    if (FAILED(hr)) _com_issue_error(hr);
    return sets;
}

// The FMTID of a non-root element from the name its Stat reports.
template <class Element>
GUID fmtid_of(Element* element, CElementWrapper& wrapper) {
    if (!element) _com_issue_error(E_POINTER);
    STATSTG stat{};
    HRESULT hr = element->Stat(&stat, STATFLAG_DEFAULT);
    wrapper.SetLastResult(hr);
    if (FAILED(hr)) throw static_cast<long>(hr);
    struct name_owner {
        LPOLESTR name;
        ~name_owner() { CoTaskMemFree(name); }
    } owner{stat.pwcsName};
    return ParseElementName(stat.pwcsName);
}

}  // namespace

bool CElementWrapper::fail() noexcept {
    last_result_ = tools::current_exception_hresult();
    return false;
}

bool CElementWrapper::WriteProperty(const GUID& key, const VARIANT& value) {
    try {
        GUID fmtid = GetFmtid();
        auto sets = GetPropertySetStorage();
        WriteNamedProperty(sets.get(), fmtid, key, value);
        IStorage* holder = SetHolder();
        if (!holder) _com_issue_error(E_POINTER);
        // Our sets write through; the commit only matters for a transacted storage, and its failure counts.
        HRESULT hr = holder->Commit(STGC_DEFAULT);
        if (FAILED(hr)) throw static_cast<long>(hr);
        return true;
    } catch (...) {
        return fail();
    }
}

bool CElementWrapper::ReadProperty(const GUID& key, VARIANT* out) {
    try {
        GUID fmtid = GetFmtid();
        auto sets = GetPropertySetStorage();
        VARIANT value;
        ReadNamedProperty(sets.get(), fmtid, key, &value);
        HRESULT hr = VariantCopy(out, &value);
        VariantClear(&value);
        if (FAILED(hr)) _com_issue_error(hr);
        return true;
    } catch (...) {
        return fail();
    }
}

bool CElementWrapper::DeleteProperty(const GUID& key) {
    try {
        GUID fmtid = GetFmtid();
        auto sets = GetPropertySetStorage();
        HRESULT hr = DeleteNamedProperty(sets.get(), fmtid, key);
        SetLastResult(hr);
        if (FAILED(hr)) return false;
        IStorage* holder = SetHolder();
        if (!holder) _com_issue_error(E_POINTER);
        hr = holder->Commit(STGC_DEFAULT);
        if (FAILED(hr)) throw static_cast<long>(hr);
        return true;
    } catch (...) {
        return fail();
    }
}

CStorageWrapper::CStorageWrapper(IStorage* storage, holder parent)
    : parent_(std::move(parent)), storage_(tools::interface_holder<IStorage>::add_ref(storage)) {}

CStorageWrapper::holder CStorageWrapper::Make(IStorage* storage, holder parent) {
    holder made(new CStorageWrapper(storage, std::move(parent)));
    made->SetOwner(made.block());
    return made;
}

IStorage* CStorageWrapper::SetHolder() { return IsRoot() ? storage_.get() : parent_->Storage(); }

tools::interface_holder<IPropertySetStorage> CStorageWrapper::GetPropertySetStorage() { return sets_of(SetHolder()); }

GUID CStorageWrapper::GetFmtid() {
    if (IsRoot()) return GUID_NULL;
    return fmtid_of(storage_.get(), *this);
}

bool CStorageWrapper::CommitStorage() {
    if (!storage_) {
        SetLastResult(E_POINTER);
        return false;
    }
    HRESULT hr = storage_->Commit(STGC_DEFAULT);
    SetLastResult(hr);
    return SUCCEEDED(hr);
}

CStreamWrapper::CStreamWrapper(IStream* stream, std::wstring name, CStorageWrapper::holder parent)
    : name_(std::move(name)), parent_(std::move(parent)), stream_(tools::interface_holder<IStream>::add_ref(stream)) {}

IStorage* CStreamWrapper::SetHolder() { return parent_ ? parent_->Storage() : nullptr; }

tools::interface_holder<IPropertySetStorage> CStreamWrapper::GetPropertySetStorage() { return sets_of(SetHolder()); }

GUID CStreamWrapper::GetFmtid() { return fmtid_of(stream_.get(), *this); }
