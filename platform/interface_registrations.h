// Stands in for the interface registration that Wine's COM run time drops with the last stub of an interface: it waits there for that interface's calls, which wait for the apartment.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <initializer_list>
#include <vector>

namespace platform {

// Keeps each interface in iids registered with the RPC run time for as long as this object lives: one
// placeholder object per interface, marshalled table-strong in the calling thread's apartment. Wine
// registers an interface with the first stub of it in the process and unregisters it, waiting for the
// calls in flight, with the last; in a single-threaded apartment that wait is made on the apartment's
// thread (inside the release of the last stub), while the calls it waits for are queued for that thread.
// With one stub of each interface that never goes while the apartment serves, no release unregisters
// one. Elsewhere it is one idle stub per interface. Make it on the serving thread before the first
// object is handed out and destroy it there after the last client was cut off.
class interface_registrations {
public:
    explicit interface_registrations(std::initializer_list<IID> iids);
    ~interface_registrations();
    interface_registrations(const interface_registrations&) = delete;
    interface_registrations& operator=(const interface_registrations&) = delete;

    // How many of the interfaces are held: one that has no proxy and stub registered cannot be marshalled,
    // here or anywhere else, and is left out.
    size_t held() const noexcept { return held_.size(); }

private:
    struct held_interface {
        IUnknown* object;     // the placeholder
        IStream* marshalled;  // its table-strong marshal data
    };
    std::vector<held_interface> held_;
};

}  // namespace platform
