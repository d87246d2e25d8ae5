// The IStream handed to clients and used by file objects in place of the compound file's own: it passes
// every call on and keeps the element store's wrapper, and so the stream, open while it lives. All
// delegates of one file work on its one stream and so share one seek position; a clone has its own.
// It refuses what the platform cannot do (platform/stream_range.h) and what would hold the service's one
// thread for long: growing a stream, or copying out of it, by more than largest_growth_per_call.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/forwarding_stream.h>
#include <tools/interface_holder.h>
#include "element_store.h"

// The platform grows a stream sector by sector (about 40 MiB/s with 4096-byte sectors, 6 MiB/s with
// 512-byte ones, here) and the service answers nobody else meanwhile: one call may grow a stream, or copy
// out of one, by this much at most. Clients write in far smaller blocks.
constexpr ULONGLONG largest_growth_per_call = ULONGLONG(4) << 20;

class CStreamDelegate final : public tools::forwarding_stream {
public:
    // A delegate over the wrapper's stream with one reference for the caller; empty when the wrapper
    // holds no stream.
    static tools::interface_holder<IStream> Make(const StreamHolder& wrapper);

    STDMETHODIMP Write(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    STDMETHODIMP Clone(IStream** out) override;

protected:
    IStream* inner() const noexcept override { return wrapped_.get(); }

private:
    // Over the wrapper's own stream, or over a clone of it.
    CStreamDelegate(const StreamHolder& wrapper, IStream* stream);
    // S_OK when a stream of size may come to end at start + length: within the platform's range, and
    // not grown by too much.
    HRESULT CheckEnd(ULONGLONG start, ULONGLONG length, ULONGLONG size) const;

    StreamHolder wrapper_;
    tools::interface_holder<IStream> wrapped_;
};
