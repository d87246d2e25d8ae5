// The Windows service that hosts the storage server: the dispatcher entry, the service's states, and
// the service body that serves every COM call on one single-threaded apartment.
#pragma once
#include <windows.h>
#include <memory>

namespace server {

// What the service serves: the class object registered for the server's class, built on the service
// thread after COM is up, and torn down by an explicit call once it is revoked.
class CServedClass {
public:
    virtual ~CServedClass() = default;
    virtual IUnknown* class_object() noexcept = 0;
    // Disconnects every client and closes what they had open; may throw.
    virtual void teardown() = 0;
};

using ServedClassMaker = std::unique_ptr<CServedClass> (*)();

// Connects the process to the service control manager as the service "orriserver" and returns when the
// service has stopped: 0, or 1 when the process was not started as the service.
int run_service_dispatcher(ServedClassMaker make);

}  // namespace server
