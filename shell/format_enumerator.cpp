#include "format_enumerator.h"

#include <tools/hresult.h>

CFormatEnumerator::CFormatEnumerator(std::vector<FORMATETC> formats, size_t position)
    : formats_(std::move(formats)), position_(position < formats_.size() ? position : formats_.size()) {}

STDMETHODIMP CFormatEnumerator::Next(ULONG count, FORMATETC* records, ULONG* fetched) {
    if (count && !records) return E_POINTER;
    ULONG copied = 0;
    for (; copied < count && position_ < formats_.size(); ++copied) records[copied] = formats_[position_++];
    if (fetched) *fetched = copied;
    return copied == count ? S_OK : S_FALSE;
}

STDMETHODIMP CFormatEnumerator::Skip(ULONG count) {
    const size_t left = formats_.size() - position_;
    if (count > left) {
        position_ = formats_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP CFormatEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP CFormatEnumerator::Clone(IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&] { *out = new CFormatEnumerator(formats_, position_); });
}
