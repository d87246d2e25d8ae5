#include "storage_server_class.h"

#include <objidl.h>
#include <orrisafe.h>

#include <platform/interface_registrations.h>
#include <platform/reused_stubs.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>

#include "server_class_factory.h"

namespace server {

namespace {

// The class factory with its one root object, living on the service thread for the body's whole run.
class CStorageServerClass final : public CServedClass {
public:
    IUnknown* class_object() noexcept override { return static_cast<IClassFactory*>(&factory_); }

    void teardown() override {
        HRESULT hr = factory_.Teardown();
        if (FAILED(hr)) _com_issue_error(hr);
    }

private:
    // Folders and files are handed out anew for every walk of a storage, and Wine's stub of either interface,
    // derived from IStorageElement, leaves a table behind whenever it is made after another went: their stubs
    // are kept and reused instead. Declared first, this goes after everything that marshals them; the
    // placeholders below are marshalled through it too.
    platform::reused_stubs stubs_{CLSID_ServerReusedStubs, {IID_IStorageFolder, IID_IStorageFile}};
    // Every interface the server hands out (the class object too, which each client's activation marshals
    // anew) stays registered from before the first client until after the factory and all it opened are gone
    // (declared before the factory, it goes after it), so that no release on the service's one thread waits for
    // calls that wait for that thread.
    platform::interface_registrations registrations_{IID_IClassFactory,  IID_IStorageServer, IID_IStorageElement,
                                                     IID_IStorageFolder, IID_IStorageFile,   IID_IElementEnum,
                                                     IID_IElementInfo,   IID_IStream};
    CServerClassFactory factory_;
};

}  // namespace

std::unique_ptr<CServedClass> make_storage_server_class() { return std::make_unique<CStorageServerClass>(); }

}  // namespace server
