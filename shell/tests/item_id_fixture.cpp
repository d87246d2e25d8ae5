#include "item_id_fixture.h"

#include <oleauto.h>
#include <shell/storage_item_id.h>

namespace shell_testing {

STDMETHODIMP info_stand_in::QueryInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP info_stand_in::GetType(long* type) {
    *type = type_;
    return type_result_;
}

STDMETHODIMP info_stand_in::GetName(BSTR* name) {
    *name = name_.empty() ? nullptr : SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
    return S_OK;
}

STDMETHODIMP info_stand_in::GetSize(UINT64* size) {
    *size = size_;
    return S_OK;
}

CIdList ItemIdOf(const std::wstring& name, long type, UINT64 size) {
    info_stand_in info(name, type, size);
    return BuildStorageItemId(&info);
}

}  // namespace shell_testing
