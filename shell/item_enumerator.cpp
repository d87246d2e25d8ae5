#include "item_enumerator.h"

#include <tools/hresult.h>

CItemEnumerator::CItemEnumerator(std::vector<CIdList> items, size_t position)
    : items_(std::move(items)), position_(position < items_.size() ? position : items_.size()) {}

STDMETHODIMP CItemEnumerator::Next(ULONG count, LPITEMIDLIST* items, ULONG* fetched) {
    if (!fetched && count > 1) return E_INVALIDARG;
    if (fetched) *fetched = 0;
    if (count && !items) return E_POINTER;
    ULONG copied = 0;
    while (copied < count && position_ < items_.size()) {
        ITEMIDLIST* clone = ILClone(items_[position_].get());
        if (!clone) {
            if (copied == 0) return E_OUTOFMEMORY;
            break;
        }
        items[copied++] = clone;
        ++position_;
    }
    if (fetched) *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP CItemEnumerator::Skip(ULONG count) {
    if (items_.size() - position_ >= count) {
        position_ += count;
        return S_OK;
    }
    position_ = items_.size();
    return S_FALSE;
}

STDMETHODIMP CItemEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP CItemEnumerator::Clone(IEnumIDList** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&] { *out = new CItemEnumerator(items_, position_); });
}
