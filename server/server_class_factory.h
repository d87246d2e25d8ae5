// The class object that the service registers: it hands every client the same root object.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <tools/com_object.h>
#include "storage_server.h"

class CServerClassFactory final : public tools::com_object<IClassFactory> {
public:
    CServerClassFactory() = default;

    // A local of the service body: the counts are not kept.
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    CStorageServer& Server() noexcept { return server_; }

    // Cuts the clients off from the root object and everything opened through it. Call after the class
    // object has been revoked, before the apartment ends.
    HRESULT Teardown() noexcept;

private:
    CStorageServer server_;
};
