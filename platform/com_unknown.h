// Stands in for nothing of the platform: the reference count and IUnknown of the objects in platform/.
#pragma once
#include <windows.h>
#include <unknwn.h>

namespace platform {

// IUnknown over one interface. These objects may be handed between threads by their users, so the
// count is interlocked.
template <class Interface>
class com_unknown : public Interface {
public:
    virtual ~com_unknown() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = InterlockedDecrement(&count_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    LONG count_ = 1;
};

}  // namespace platform
