#include "server_class_factory.h"

STDMETHODIMP CServerClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    // The outer unknown is ignored: every client gets the one root object.
    return server_.QueryInterface(iid, out);
}

STDMETHODIMP CServerClassFactory::LockServer(BOOL lock) {
    return CoLockObjectExternal(static_cast<IStorageServer*>(&server_), lock, TRUE);
}

HRESULT CServerClassFactory::Teardown() noexcept {
    CoDisconnectObject(static_cast<IStorageServer*>(&server_), 0);
    member_interface().reset();
    return server_.Teardown();
}
