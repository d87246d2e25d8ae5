#include "named_property.h"
#include "hresult.h"
#include "com_error.h"
#include "text.h"

#include <string>

namespace {

constexpr DWORD set_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

using tools::check;

struct named_spec {
    explicit named_spec(const GUID& key) : name(tools::guid_to_string(key)) {
        spec.ulKind = PRSPEC_LPWSTR;
        spec.lpwstr = name.data();
    }
    std::wstring name;
    PROPSPEC spec{};
};

}  // namespace

tools::interface_holder<IPropertyStorage> OpenPropertySet(IPropertySetStorage* sets, const GUID& fmtid) {
    if (!sets) _com_issue_error(E_POINTER);
    tools::interface_holder<IPropertyStorage> set;
    HRESULT hr = sets->Create(fmtid, &CLSID_NULL, PROPSETFLAG_DEFAULT, set_mode, set.put());
    if (SUCCEEDED(hr)) return set;
    // Only an existing set is opened instead; any other failure of the create is the one to report.
    if (hr != STG_E_FILEALREADYEXISTS) throw static_cast<long>(hr);
    check(sets->Open(fmtid, set_mode, set.put()));
    return set;
}

void WriteNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key, const VARIANT& value) {
    auto set = OpenPropertySet(sets, fmtid);
    named_spec name(key);
    check(set->WriteMultiple(1, &name.spec, reinterpret_cast<const PROPVARIANT*>(&value), 2));
}

void ReadNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key, VARIANT* out) {
    auto set = OpenPropertySet(sets, fmtid);
    VariantInit(out);
    named_spec name(key);
    PROPVARIANT value;
    PropVariantInit(&value);
    check(set->ReadMultiple(1, &name.spec, &value));
    HRESULT hr = VariantCopy(out, reinterpret_cast<VARIANT*>(&value));
    PropVariantClear(&value);
    if (FAILED(hr)) _com_issue_error(hr);
}

HRESULT DeleteNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key) {
    auto set = OpenPropertySet(sets, fmtid);
    named_spec name(key);
    return set->DeleteMultiple(1, &name.spec);
}
