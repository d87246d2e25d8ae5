#include "class_factory.h"

#include <tools/hresult.h>
#include "class_table.h"

namespace shell {

namespace {

// The new object's one reference is released once it has been asked for iid, so a failed query destroys it.
HRESULT hand_out(IUnknown* object, REFIID iid, void** out) {
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace

STDMETHODIMP CClassFactory::CreateInstance(IUnknown*, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&] { return hand_out(CreateShellObject(clsid_), iid, out); });
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
    if (lock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}

HRESULT GetShellClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!FindShellClass(clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return tools::com_boundary([&] { return hand_out(static_cast<IClassFactory*>(new CClassFactory(clsid)), iid, out); });
}

}  // namespace shell
