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
    return tools::com_boundary([&]() -> HRESULT {
        tools::interface_holder<IElementInfo> made;
        try {
            made = CElementInfo::Make(records_[position_]);
        } catch (...) {
            // No info object: the position stays where it is.
            return E_POINTER;
        }
        *info = made.detach();
        ++position_;
        return S_OK;
    });
}

STDMETHODIMP CElementEnum::Reset() {
    position_ = 0;
    return S_OK;
}
