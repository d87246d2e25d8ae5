// An IStream of our own that passes every call on to the stream it stands for; a derived class names that
// stream and replaces only the calls it treats otherwise. It answers ISequentialStream itself and never
// passes a query on.
#pragma once
#include <windows.h>
#include <objidl.h>
#include "com_object.h"

namespace tools {

class forwarding_stream : public com_object<IStream> {
public:
    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* read) override { return inner()->Read(buffer, count, read); }
    STDMETHODIMP Write(const void* buffer, ULONG count, ULONG* written) override {
        return inner()->Write(buffer, count, written);
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner()->Seek(move, origin, position);
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override { return inner()->SetSize(size); }
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
        return inner()->CopyTo(target, count, read, written);
    }
    STDMETHODIMP Commit(DWORD flags) override { return inner()->Commit(flags); }
    STDMETHODIMP Revert() override { return inner()->Revert(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override {
        return inner()->LockRegion(offset, count, type);
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override {
        return inner()->UnlockRegion(offset, count, type);
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner()->Stat(stat, flags); }
    // The inner stream's own clone, not wrapped.
    STDMETHODIMP Clone(IStream** out) override { return inner()->Clone(out); }

protected:
    // The stream every call goes to; it lives as long as this object.
    virtual IStream* inner() const noexcept = 0;

    void* query_own_interface(REFIID iid) override {
        return IsEqualIID(iid, IID_ISequentialStream) ? static_cast<ISequentialStream*>(this) : nullptr;
    }
};

}  // namespace tools
