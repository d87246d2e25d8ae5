// The IStream handed to clients and used by file objects in place of the compound file's own: it passes
// every call on and keeps the element store's wrapper, and so the stream, open while it lives. All
// delegates of one file work on its one stream and so share one seek position.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "element_store.h"

class CStreamDelegate final : public tools::com_object<IStream> {
public:
    // A delegate over the wrapper's stream with one reference for the caller; empty when the wrapper
    // holds no stream.
    static tools::interface_holder<IStream> Make(const StreamHolder& wrapper);

    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* read) override;
    STDMETHODIMP Write(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    STDMETHODIMP Commit(DWORD flags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
    STDMETHODIMP Clone(IStream** out) override;

protected:
    void* query_own_interface(REFIID iid) override;

private:
    explicit CStreamDelegate(const StreamHolder& wrapper);

    StreamHolder wrapper_;
    tools::interface_holder<IStream> wrapped_;
};
