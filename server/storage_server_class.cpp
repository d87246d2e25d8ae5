#include "storage_server_class.h"

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
    CServerClassFactory factory_;
};

}  // namespace

std::unique_ptr<CServedClass> make_storage_server_class() { return std::make_unique<CStorageServerClass>(); }

}  // namespace server
