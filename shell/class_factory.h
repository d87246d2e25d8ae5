// The class object that DllGetClassObject hands out for each of the shell extension's classes.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <tools/com_object.h>
#include "module_lock.h"

namespace shell {

class CClassFactory final : public tools::com_object<IClassFactory> {
public:
    explicit CClassFactory(REFCLSID clsid) : clsid_(clsid) {}
    // The outer unknown is not looked at: no aggregation, and no error for one.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    CLSID clsid_;
    CModuleLock module_lock_;
};

// DllGetClassObject's work: a new class object for one of the six classes, queried for iid; the caller holds
// the only reference.
HRESULT GetShellClassObject(REFCLSID clsid, REFIID iid, void** out) noexcept;

}  // namespace shell
