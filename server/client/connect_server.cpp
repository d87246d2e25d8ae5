#include "connect_server.h"

#include <server/idl/storage_identities.h>
#include <server/client/impersonation_blanket.h>
#include <tools/com_error.h>

tools::interface_holder<IStorageServer> ConnectServer() {
    constexpr DWORD context = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;  // 0x15
    tools::interface_holder<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(CLSID_StorageServer, context, nullptr, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) _com_issue_error(hr);
    tools::interface_holder<IStorageServer> server;
    hr = factory->CreateInstance(nullptr, IID_IStorageServer, server.put_void());
    if (FAILED(hr)) _com_issue_error(hr);
    // Every call on the root that reaches a storage file runs as the caller; no other interface's does.
    AllowImpersonation(server.get());
    return server;
}
