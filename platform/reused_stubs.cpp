// Stands in for the type-library stubs of interfaces derived from another than IUnknown, whose release under Wine miscounts the method table those stubs share: each such stub made after one went allocates a table (a kilobyte or two) that is never freed.
#include "reused_stubs.h"

#include <new>
#include <vector>

#include "com_unknown.h"

namespace platform {

namespace {

// Beyond this many idle stubs of one interface, a stub the run time lets go of is released after all: a
// client that once held thousands of objects at a time leaves no thousands of stubs behind.
constexpr size_t most_kept_per_interface = 64;

struct kept_interface {
    IID iid;
    CLSID registered_class;           // what CoGetPSClsid named before
    IPSFactoryBuffer* registered;     // that class's factory, one reference
    std::vector<IRpcStubBuffer*> idle;  // disconnected, one reference each
};

}  // namespace

class reused_stub_factory final : public com_unknown<IPSFactoryBuffer> {
public:
    // Entries for the interfaces that have a registered class; the others are left out.
    explicit reused_stub_factory(std::initializer_list<IID> iids) {
        for (const IID& iid : iids) {
            kept_interface entry{iid, CLSID_NULL, nullptr, {}};
            if (FAILED(CoGetPSClsid(iid, &entry.registered_class)) ||
                FAILED(CoGetClassObject(entry.registered_class, CLSCTX_INPROC_SERVER, nullptr, IID_IPSFactoryBuffer,
                                        reinterpret_cast<void**>(&entry.registered))))
                continue;
            interfaces_.push_back(std::move(entry));
        }
    }

    const std::vector<kept_interface>& interfaces() const noexcept { return interfaces_; }

    STDMETHODIMP CreateProxy(IUnknown* outer, REFIID iid, IRpcProxyBuffer** proxy, void** out) override {
        kept_interface* entry = find(iid);
        if (!entry) return E_NOINTERFACE;
        return entry->registered->CreateProxy(outer, iid, proxy, out);
    }

    STDMETHODIMP CreateStub(REFIID iid, IUnknown* server, IRpcStubBuffer** out) override;

    // Takes back a stub that the run time let go of, with its one reference.
    void keep(kept_interface& entry, IRpcStubBuffer* stub) noexcept {
        stub->Disconnect();
        AcquireSRWLockExclusive(&lock_);
        bool kept = false;
        if (entry.idle.size() < most_kept_per_interface) {
            try {
                entry.idle.push_back(stub);
                kept = true;
            } catch (const std::bad_alloc&) {
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        if (!kept) stub->Release();
    }

    size_t made() const noexcept { return made_; }
    size_t kept() const noexcept {
        AcquireSRWLockShared(&lock_);
        size_t count = 0;
        for (const kept_interface& entry : interfaces_) count += entry.idle.size();
        ReleaseSRWLockShared(&lock_);
        return count;
    }

private:
    ~reused_stub_factory() override {
        for (kept_interface& entry : interfaces_) {
            for (IRpcStubBuffer* stub : entry.idle) stub->Release();
            entry.registered->Release();
        }
    }

    kept_interface* find(REFIID iid) noexcept {
        for (kept_interface& entry : interfaces_)
            if (IsEqualIID(entry.iid, iid)) return &entry;
        return nullptr;
    }

    // An idle stub of the interface with its reference, or null.
    IRpcStubBuffer* take_idle(kept_interface& entry) noexcept {
        AcquireSRWLockExclusive(&lock_);
        IRpcStubBuffer* stub = nullptr;
        if (!entry.idle.empty()) {
            stub = entry.idle.back();
            entry.idle.pop_back();
        }
        ReleaseSRWLockExclusive(&lock_);
        return stub;
    }

    std::vector<kept_interface> interfaces_;  // fixed once made
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    volatile LONG made_ = 0;
};

namespace {

// The stub the run time holds: the registered class's stub, connected to the run time's object while it is
// held, and handed back to the factory at its last release instead of going.
class kept_stub final : public com_unknown<IRpcStubBuffer> {
public:
    kept_stub(reused_stub_factory* owner, kept_interface& entry, IRpcStubBuffer* inner)
        : owner_(owner), entry_(entry), inner_(inner) {
        owner_->AddRef();
    }

    STDMETHODIMP Connect(IUnknown* server) override { return inner_->Connect(server); }
    STDMETHODIMP_(void) Disconnect() override { inner_->Disconnect(); }
    STDMETHODIMP Invoke(RPCOLEMESSAGE* message, IRpcChannelBuffer* channel) override {
        return inner_->Invoke(message, channel);
    }
    STDMETHODIMP_(IRpcStubBuffer*) IsIIDSupported(REFIID iid) override {
        return inner_->IsIIDSupported(iid) ? this : nullptr;
    }
    STDMETHODIMP_(ULONG) CountRefs() override { return inner_->CountRefs(); }
    STDMETHODIMP DebugServerQueryInterface(void** out) override { return inner_->DebugServerQueryInterface(out); }
    STDMETHODIMP_(void) DebugServerRelease(void* object) override { inner_->DebugServerRelease(object); }

private:
    ~kept_stub() override {
        owner_->keep(entry_, inner_);
        owner_->Release();
    }

    reused_stub_factory* owner_;  // one reference
    kept_interface& entry_;         // in owner_'s fixed list
    IRpcStubBuffer* inner_;         // one reference
};

}  // namespace

STDMETHODIMP reused_stub_factory::CreateStub(REFIID iid, IUnknown* server, IRpcStubBuffer** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    kept_interface* entry = find(iid);
    if (!entry) return E_NOINTERFACE;
    IRpcStubBuffer* inner = take_idle(*entry);
    HRESULT hr = S_OK;
    if (inner) {
        hr = inner->Connect(server);
        if (FAILED(hr)) {
            keep(*entry, inner);
            return hr;
        }
    } else {
        hr = entry->registered->CreateStub(iid, server, &inner);
        if (FAILED(hr)) return hr;
        InterlockedIncrement(&made_);
    }
    kept_stub* made = new (std::nothrow) kept_stub(this, *entry, inner);
    if (!made) {
        keep(*entry, inner);
        return E_OUTOFMEMORY;
    }
    *out = made;
    return S_OK;
}

reused_stubs::reused_stubs(REFCLSID clsid, std::initializer_list<IID> iids) {
    try {
        factory_ = new reused_stub_factory(iids);
    } catch (const std::bad_alloc&) {
        return;  // the registered classes serve alone
    }
    // Without its class object in place, no interface may name the class.
    if (FAILED(CoRegisterClassObject(clsid, static_cast<IPSFactoryBuffer*>(factory_), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie_))) {
        cookie_ = 0;
        return;
    }
    for (const kept_interface& entry : factory_->interfaces()) CoRegisterPSClsid(entry.iid, clsid);
}

reused_stubs::~reused_stubs() {
    if (!factory_) return;
    if (cookie_) {
        for (const kept_interface& entry : factory_->interfaces())
            CoRegisterPSClsid(entry.iid, entry.registered_class);
        CoRevokeClassObject(cookie_);
    }
    // Stubs still held keep the factory, and so the registered classes' factories, until they go.
    factory_->Release();
}

size_t reused_stubs::made() const noexcept { return factory_ ? factory_->made() : 0; }
size_t reused_stubs::kept() const noexcept { return factory_ ? factory_->kept() : 0; }

}  // namespace platform
