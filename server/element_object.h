// What folder and file objects share: the parent reference, the getters that read the element's
// STATSTG, the name, and the property methods keyed by GUID. Interface is IStorageFolder or IStorageFile.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <tools/com_object.h>
#include <tools/hresult.h>
#include <tools/interface_holder.h>
#include "element_failure.h"
#include "element_store.h"

template <class Interface>
class CElementObject : public tools::com_object<Interface> {
public:
    STDMETHODIMP GetName(BSTR* name) override;
    STDMETHODIMP GetTimes(ElementTimes* times) override;
    STDMETHODIMP GetSize(unsigned __int64* size) override;
    STDMETHODIMP DetachParent(IStorageFolder** parent) override;
    STDMETHODIMP GetProperty(GUID key, VARIANT* value) override;
    STDMETHODIMP SetProperty(GUID key, VARIANT value) override;
    STDMETHODIMP DeleteProperty(GUID key) override;

protected:
    // Takes its own reference on parent (which may be null).
    explicit CElementObject(IStorageFolder* parent) : parent_(tools::interface_holder<IStorageFolder>::add_ref(parent)) {}

    // The element's STATSTG with its name, which then belongs to the caller.
    virtual HRESULT Stat(STATSTG* stat) = 0;
    // The element store's wrapper of this element; null once the object is disconnected.
    virtual CElementWrapper* Wrapper() noexcept = 0;

    // Runs a method body under the exception rule; an object cut off from its element answers as COM
    // answers for a disconnected object.
    template <class Body>
    HRESULT Call(Body&& body) noexcept {
        return tools::com_boundary([&]() -> HRESULT {
            if (!Wrapper()) return RPC_E_DISCONNECTED;
            return body();
        });
    }

    // The private identity IIDs are never answered: a client could ask for them, and COM would then
    // release a reference that was never added. The server knows its own objects by typed pointers.
    void* query_own_interface(REFIID iid) override {
        if (IsEqualIID(iid, IID_IStorageElement)) return static_cast<IStorageElement*>(this);
        return nullptr;
    }

    tools::interface_holder<IStorageFolder> parent_;
};

template <class Interface>
STDMETHODIMP CElementObject<Interface>::GetName(BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    return Call([&]() -> HRESULT {
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = this->GetProperty(ElementNameProperty, &value);
        if (FAILED(hr)) return hr;
        if (value.vt != VT_BSTR) {
            // A name that is not text is a damaged element, not a name.
            VariantClear(&value);
            return E_FAIL;
        }
        *name = value.bstrVal;
        return S_OK;
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::GetTimes(ElementTimes* times) {
    if (!times) return E_POINTER;
    return Call([&]() -> HRESULT {
        STATSTG stat{};
        HRESULT hr = Stat(&stat);
        if (FAILED(hr)) return hr;
        CoTaskMemFree(stat.pwcsName);
        times->access = stat.atime;
        times->creation = stat.ctime;
        times->modification = stat.mtime;
        return S_OK;
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::GetSize(unsigned __int64* size) {
    if (!size) return E_POINTER;
    return Call([&]() -> HRESULT {
        STATSTG stat{};
        HRESULT hr = Stat(&stat);
        if (FAILED(hr)) return hr;
        CoTaskMemFree(stat.pwcsName);
        *size = stat.cbSize.QuadPart;
        return S_OK;
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::DetachParent(IStorageFolder** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return Call([&]() -> HRESULT {
        if (!parent_) return S_FALSE;
        *parent = parent_.detach();
        return S_OK;
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::GetProperty(GUID key, VARIANT* value) {
    if (!value) return E_POINTER;
    return Call([&]() -> HRESULT {
        CElementWrapper& wrapper = *Wrapper();
        VARIANT read;
        VariantInit(&read);
        if (!wrapper.ReadProperty(key, &read)) return FailureOf(wrapper);
        *value = read;  // moved: the caller owns it now
        return S_OK;
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::SetProperty(GUID key, VARIANT value) {
    // Names change only by renaming.
    if (IsEqualGUID(key, ElementNameProperty)) return E_INVALIDARG;
    return Call([&]() -> HRESULT {
        CElementWrapper& wrapper = *Wrapper();
        VARIANT copy;
        VariantInit(&copy);
        CheckHresult(VariantCopy(&copy, &value));
        bool written = wrapper.WriteProperty(key, copy);
        VariantClear(&copy);
        return written ? S_OK : FailureOf(wrapper);
    });
}

template <class Interface>
STDMETHODIMP CElementObject<Interface>::DeleteProperty(GUID key) {
    // An element without a name could no longer be listed.
    if (IsEqualGUID(key, ElementNameProperty)) return E_INVALIDARG;
    return Call([&]() -> HRESULT {
        CElementWrapper& wrapper = *Wrapper();
        return wrapper.DeleteProperty(key) ? S_OK : FailureOf(wrapper);
    });
}
