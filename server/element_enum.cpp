#include "element_enum.h"

#include <tools/hresult.h>

#include "element_info.h"

tools::interface_holder<IElementEnum> CElementEnum::Make(CStorageWrapper& folder) {
    std::vector<ChildRecord> records;
    if (!EnumChildren(folder, records)) return {};
    return tools::interface_holder<IElementEnum>(new CElementEnum(std::move(records)));
}

STDMETHODIMP CElementEnum::Next(IElementInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (position_ >= records_.size()) return S_FALSE;
    // No info object (out of memory): the failure by the foundation's rule, and the position stays.
    return tools::com_boundary([&]() -> HRESULT {
        *info = CElementInfo::Make(records_[position_]).detach();
        ++position_;
        return S_OK;
    });
}

STDMETHODIMP CElementEnum::Reset() {
    position_ = 0;
    return S_OK;
}
