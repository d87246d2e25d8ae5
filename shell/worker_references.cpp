#include "worker_references.h"

#include <tools/com_error.h>
#include "cross_thread_call.h"
#include "worker_thread.h"

namespace shell {

namespace {

DWORD worker() {
    DWORD owner = unbound_thread_id;
    EnsureWorkerThread(owner);
    return owner;
}

}  // namespace

void AddRefOnWorker(IUnknown* object) {
    if (object) ForwardToOwner(worker(), [&] { object->AddRef(); });
}

void ReleaseOnWorker(IUnknown* object) {
    if (object) ForwardToOwner(worker(), [&] { object->Release(); });
}

tools::interface_holder<IUnknown> MarshalForCaller(REFIID iid, IUnknown* object) {
    const DWORD owner = worker();
    if (owner == GetCurrentThreadId()) {
        // The caller's interface of the same object.
        tools::interface_holder<IUnknown> own;
        HRESULT hr = object->QueryInterface(iid, own.put_void());
        if (FAILED(hr)) _com_issue_error(hr);
        return own;
    }
    auto stream = ForwardToOwner(owner, [&] { return MarshalToStream(iid, object); });
    tools::interface_holder<IUnknown> proxy;
    HRESULT hr = CoUnmarshalInterface(stream.get(), iid, proxy.put_void());
    if (FAILED(hr)) {
        // The packet still holds a reference on the worker's object.
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(stream.get());
        _com_issue_error(hr);
    }
    return proxy;
}

}  // namespace shell
