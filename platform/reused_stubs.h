// Stands in for the type-library stubs of interfaces derived from another than IUnknown, whose release under Wine miscounts the method table those stubs share: each such stub made after one went allocates a table (a kilobyte or two) that is never freed.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <initializer_list>

namespace platform {

class reused_stub_factory;

// Registers, for this process, a proxy/stub class of its own under clsid for each interface in iids. Its
// stubs are the ones the interface's registered class makes, kept once the COM run time lets go of them and
// connected to the next object marshalled with that interface: a new one is made only while every kept one
// is in use, so the platform's tables stay as many as the stubs in use at once, not as the objects ever
// handed out. Its proxies are the registered class's own. The class object lives in the calling thread's
// apartment, and another apartment of the process can then neither marshal nor unmarshal these interfaces:
// make this in a process of one apartment, on its thread, before the first is marshalled, and destroy it
// there after the last object was cut off. Interfaces without a registered class are left out.
class reused_stubs {
public:
    reused_stubs(REFCLSID clsid, std::initializer_list<IID> iids);
    ~reused_stubs();
    reused_stubs(const reused_stubs&) = delete;
    reused_stubs& operator=(const reused_stubs&) = delete;

    // How many stubs the registered classes made so far, and how many wait for an object now.
    size_t made() const noexcept;
    size_t kept() const noexcept;

private:
    reused_stub_factory* factory_ = nullptr;  // one reference
    DWORD cookie_ = 0;
};

}  // namespace platform
