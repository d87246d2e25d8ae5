#include "storage_delegate.h"

#include <new>

// Each delegate has its own count and one reference on what it wraps, so delegates released in any
// order are each freed at their own last Release.
CStorageDelegate::CStorageDelegate(const StorageHolder& wrapper)
    : wrapper_(wrapper), wrapped_(tools::interface_holder<IStorage>::add_ref(wrapper->Storage())) {}

tools::interface_holder<IStorage> CStorageDelegate::Make(const StorageHolder& wrapper) {
    if (!wrapper || !wrapper->Storage()) return {};
    // The new object's one reference goes to the caller.
    return tools::interface_holder<IStorage>(new CStorageDelegate(wrapper));
}

STDMETHODIMP CStorageDelegate::CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                            IStream** out) {
    return wrapped_->CreateStream(name, mode, reserved1, reserved2, out);
}
STDMETHODIMP CStorageDelegate::OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                                          IStream** out) {
    return wrapped_->OpenStream(name, reserved1, mode, reserved2, out);
}
STDMETHODIMP CStorageDelegate::CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                             IStorage** out) {
    return wrapped_->CreateStorage(name, mode, reserved1, reserved2, out);
}
STDMETHODIMP CStorageDelegate::OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude,
                                           DWORD reserved, IStorage** out) {
    return wrapped_->OpenStorage(name, priority, mode, exclude, reserved, out);
}
STDMETHODIMP CStorageDelegate::CopyTo(DWORD exclude_count, const IID* exclude_iids, SNB exclude, IStorage* target) {
    return wrapped_->CopyTo(exclude_count, exclude_iids, exclude, target);
}
STDMETHODIMP CStorageDelegate::MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* new_name,
                                             DWORD flags) {
    return wrapped_->MoveElementTo(name, target, new_name, flags);
}
STDMETHODIMP CStorageDelegate::Commit(DWORD flags) { return wrapped_->Commit(flags); }
STDMETHODIMP CStorageDelegate::Revert() { return wrapped_->Revert(); }
STDMETHODIMP CStorageDelegate::EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** out) {
    return wrapped_->EnumElements(reserved1, reserved2, reserved3, out);
}
STDMETHODIMP CStorageDelegate::DestroyElement(const OLECHAR* name) { return wrapped_->DestroyElement(name); }
STDMETHODIMP CStorageDelegate::RenameElement(const OLECHAR* old_name, const OLECHAR* new_name) {
    return wrapped_->RenameElement(old_name, new_name);
}
STDMETHODIMP CStorageDelegate::SetElementTimes(const OLECHAR* name, const FILETIME* creation, const FILETIME* access,
                                               const FILETIME* modification) {
    return wrapped_->SetElementTimes(name, creation, access, modification);
}
STDMETHODIMP CStorageDelegate::SetClass(REFCLSID clsid) { return wrapped_->SetClass(clsid); }
STDMETHODIMP CStorageDelegate::SetStateBits(DWORD bits, DWORD mask) { return wrapped_->SetStateBits(bits, mask); }
STDMETHODIMP CStorageDelegate::Stat(STATSTG* stat, DWORD flags) { return wrapped_->Stat(stat, flags); }
