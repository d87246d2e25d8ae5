#include "stream_delegate.h"

#include <platform/stream_range.h>

#include <new>

// Each delegate has its own count and one reference on what it wraps, so delegates released in any
// order are each freed at their own last Release.
CStreamDelegate::CStreamDelegate(const StreamHolder& wrapper, IStream* stream)
    : wrapper_(wrapper), wrapped_(tools::interface_holder<IStream>::add_ref(stream)) {}

tools::interface_holder<IStream> CStreamDelegate::Make(const StreamHolder& wrapper) {
    if (!wrapper || !wrapper->Stream()) return {};
    return tools::interface_holder<IStream>(new CStreamDelegate(wrapper, wrapper->Stream()));
}

HRESULT CStreamDelegate::CheckEnd(ULONGLONG start, ULONGLONG length, ULONGLONG size) const {
    ULONGLONG end = start + length;
    if (end < start) return STG_E_DOCFILETOOLARGE;
    HRESULT hr = platform::check_stream_end(end);
    if (FAILED(hr)) return hr;
    return end > size && end - size > largest_growth_per_call ? STG_E_INVALIDFUNCTION : S_OK;
}

STDMETHODIMP CStreamDelegate::Write(const void* buffer, ULONG count, ULONG* written) {
    if (written) *written = 0;
    ULONGLONG position = 0, size = 0;
    HRESULT hr = platform::stream_extent(wrapped_.get(), &position, &size);
    if (SUCCEEDED(hr)) hr = CheckEnd(position, count, size);
    if (FAILED(hr)) return hr;
    return wrapped_->Write(buffer, count, written);
}

STDMETHODIMP CStreamDelegate::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
    ULONGLONG target = 0;
    HRESULT hr = platform::stream_seek_target(wrapped_.get(), move, origin, &target);
    if (FAILED(hr)) return hr;
    return wrapped_->Seek(move, origin, position);
}

STDMETHODIMP CStreamDelegate::SetSize(ULARGE_INTEGER new_size) {
    ULONGLONG position = 0, size = 0;
    HRESULT hr = platform::stream_extent(wrapped_.get(), &position, &size);
    if (SUCCEEDED(hr)) hr = CheckEnd(new_size.QuadPart, 0, size);
    if (FAILED(hr)) return hr;
    return wrapped_->SetSize(new_size);
}

STDMETHODIMP CStreamDelegate::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) {
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    ULONGLONG position = 0, size = 0;
    HRESULT hr = platform::stream_extent(wrapped_.get(), &position, &size);
    if (FAILED(hr)) return hr;
    // The platform copies in 128-byte pieces, each a call on the target.
    ULONGLONG left = position < size ? size - position : 0;
    if ((count.QuadPart < left ? count.QuadPart : left) > largest_growth_per_call) return STG_E_INVALIDFUNCTION;
    return wrapped_->CopyTo(target, count, read, written);
}

// A clone is handed out as a delegate too: the platform's own stream would take any call.
STDMETHODIMP CStreamDelegate::Clone(IStream** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    tools::interface_holder<IStream> clone;
    HRESULT hr = wrapped_->Clone(clone.put());
    if (FAILED(hr)) return hr;
    try {
        *out = new CStreamDelegate(wrapper_, clone.get());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
