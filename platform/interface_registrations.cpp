// Stands in for the interface registration that Wine's COM run time drops with the last stub of an interface: it waits there for that interface's calls, which wait for the apartment.
#include "interface_registrations.h"

#include <new>

#include "com_unknown.h"

namespace platform {

namespace {

// The object held for one interface: an aggregate whose interface is that interface's own proxy, connected
// to nothing, so that it has the interface's exact method layout without an implementation of ours. Its
// marshal data never leaves this process, so no client can call it.
class placeholder final : public com_unknown<IUnknown> {
public:
    // The one reference of a new placeholder for iid; null when the interface has no proxy to lend.
    static placeholder* make(REFIID iid) noexcept {
        CLSID factory_class;
        IPSFactoryBuffer* factory = nullptr;
        if (FAILED(CoGetPSClsid(iid, &factory_class)) ||
            FAILED(CoGetClassObject(factory_class, CLSCTX_INPROC_SERVER, nullptr, IID_IPSFactoryBuffer,
                                    reinterpret_cast<void**>(&factory))))
            return nullptr;
        placeholder* made = new (std::nothrow) placeholder(iid);
        HRESULT hr = made ? factory->CreateProxy(made, iid, &made->inner_, reinterpret_cast<void**>(&made->face_))
                          : E_OUTOFMEMORY;
        factory->Release();
        if (FAILED(hr) || !made->face_) {
            if (made) made->Release();
            return nullptr;
        }
        // The proxy's interface counts on its outer object; that count is given back, as aggregation has
        // it, so that the placeholder's own count decides when it goes (and the proxy with it).
        made->Release();
        return made;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out || !IsEqualIID(iid, iid_)) return com_unknown::QueryInterface(iid, out);
        *out = face_;
        AddRef();
        return S_OK;
    }

private:
    explicit placeholder(REFIID iid) : iid_(iid) {}
    ~placeholder() override {
        if (inner_) inner_->Release();
    }

    IID iid_;
    IRpcProxyBuffer* inner_ = nullptr;
    IUnknown* face_ = nullptr;  // counted on this object
};

}  // namespace

interface_registrations::interface_registrations(std::initializer_list<IID> iids) {
    held_.reserve(iids.size());
    for (const IID& iid : iids) {
        placeholder* object = placeholder::make(iid);
        if (!object) continue;
        IStream* marshalled = nullptr;
        if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &marshalled)) &&
            SUCCEEDED(CoMarshalInterface(marshalled, iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG))) {
            held_.push_back({object, marshalled});
            continue;
        }
        if (marshalled) marshalled->Release();
        object->Release();
    }
}

interface_registrations::~interface_registrations() {
    for (held_interface& held : held_) {
        // Disconnecting first ends the stub without the wait that releasing its marshal data would make under
        // Wine, should this be the last stub of the interface while a client calls it; what remains to release
        // is then only the data.
        CoDisconnectObject(held.object, 0);
        LARGE_INTEGER start{};
        if (SUCCEEDED(held.marshalled->Seek(start, STREAM_SEEK_SET, nullptr))) CoReleaseMarshalData(held.marshalled);
        held.marshalled->Release();
        held.object->Release();
    }
}

}  // namespace platform
