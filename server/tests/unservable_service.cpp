// A service host whose class object cannot be registered: the control manager must learn that it could not serve.
#include <server/service_host.h>

#include <memory>

namespace {

class unregistrable_class final : public server::CServedClass {
public:
    IUnknown* class_object() noexcept override { return nullptr; }  // refused by CoRegisterClassObject
    void teardown() override {}
};

std::unique_ptr<server::CServedClass> make_unregistrable() { return std::make_unique<unregistrable_class>(); }

}  // namespace

int wmain() { return server::run_service_dispatcher(make_unregistrable); }
