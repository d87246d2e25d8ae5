// The IStorage that element objects use in place of the compound file's own: it passes every call on
// and keeps the element store's wrapper, and so the compound file, open while it lives.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "element_store.h"

class CStorageDelegate final : public tools::com_object<IStorage> {
public:
    // A delegate over the wrapper's storage with one reference for the caller; empty when the wrapper
    // holds no storage.
    static tools::interface_holder<IStorage> Make(const StorageHolder& wrapper);

    STDMETHODIMP CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2, IStream** out) override;
    STDMETHODIMP OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2, IStream** out) override;
    STDMETHODIMP CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2, IStorage** out) override;
    STDMETHODIMP OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                             IStorage** out) override;
    STDMETHODIMP CopyTo(DWORD exclude_count, const IID* exclude_iids, SNB exclude, IStorage* target) override;
    STDMETHODIMP MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* new_name, DWORD flags) override;
    STDMETHODIMP Commit(DWORD flags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** out) override;
    STDMETHODIMP DestroyElement(const OLECHAR* name) override;
    STDMETHODIMP RenameElement(const OLECHAR* old_name, const OLECHAR* new_name) override;
    STDMETHODIMP SetElementTimes(const OLECHAR* name, const FILETIME* creation, const FILETIME* access,
                                 const FILETIME* modification) override;
    STDMETHODIMP SetClass(REFCLSID clsid) override;
    STDMETHODIMP SetStateBits(DWORD bits, DWORD mask) override;
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;

private:
    explicit CStorageDelegate(const StorageHolder& wrapper);

    // Members go in reverse: the reference on the storage before the wrapper that owns it.
    StorageHolder wrapper_;
    tools::interface_holder<IStorage> wrapped_;
};
