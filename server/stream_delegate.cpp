#include "stream_delegate.h"

// Each delegate has its own count and one reference on what it wraps, so delegates released in any
// order are each freed at their own last Release.
CStreamDelegate::CStreamDelegate(const StreamHolder& wrapper)
    : wrapper_(wrapper), wrapped_(tools::interface_holder<IStream>::add_ref(wrapper->Stream())) {}

tools::interface_holder<IStream> CStreamDelegate::Make(const StreamHolder& wrapper) {
    if (!wrapper || !wrapper->Stream()) return {};
    return tools::interface_holder<IStream>(new CStreamDelegate(wrapper));
}

// Only our own interfaces: the query is never passed to the wrapped stream.
void* CStreamDelegate::query_own_interface(REFIID iid) {
    if (IsEqualIID(iid, IID_ISequentialStream)) return static_cast<ISequentialStream*>(this);
    return nullptr;
}

STDMETHODIMP CStreamDelegate::Read(void* buffer, ULONG count, ULONG* read) { return wrapped_->Read(buffer, count, read); }
STDMETHODIMP CStreamDelegate::Write(const void* buffer, ULONG count, ULONG* written) {
    return wrapped_->Write(buffer, count, written);
}
STDMETHODIMP CStreamDelegate::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
    return wrapped_->Seek(move, origin, position);
}
STDMETHODIMP CStreamDelegate::SetSize(ULARGE_INTEGER size) { return wrapped_->SetSize(size); }
STDMETHODIMP CStreamDelegate::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) {
    return wrapped_->CopyTo(target, count, read, written);
}
STDMETHODIMP CStreamDelegate::Commit(DWORD flags) { return wrapped_->Commit(flags); }
STDMETHODIMP CStreamDelegate::Revert() { return wrapped_->Revert(); }
STDMETHODIMP CStreamDelegate::LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) {
    return wrapped_->LockRegion(offset, count, type);
}
STDMETHODIMP CStreamDelegate::UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) {
    return wrapped_->UnlockRegion(offset, count, type);
}
STDMETHODIMP CStreamDelegate::Stat(STATSTG* stat, DWORD flags) { return wrapped_->Stat(stat, flags); }
STDMETHODIMP CStreamDelegate::Clone(IStream** out) { return wrapped_->Clone(out); }
