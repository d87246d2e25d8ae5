// References to interfaces that live in the worker's apartment (the server's folders), taken and given back on the
// worker, and the same interfaces made usable on the calling thread.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <tools/interface_holder.h>

namespace shell {

// AddRef or Release run on the worker (directly there, else carried there); the worker is started when needed.
void AddRefOnWorker(IUnknown* object);
void ReleaseOnWorker(IUnknown* object);

// The worker's interface for the calling thread: itself on the worker, elsewhere a proxy marshalled on the worker and
// unmarshalled here. Failures raise their COM error (a marshalled packet that cannot be unmarshalled is released).
tools::interface_holder<IUnknown> MarshalForCaller(REFIID iid, IUnknown* object);

template <class Interface>
tools::interface_holder<Interface> MarshalForCaller(Interface* object) {
    return tools::interface_holder<Interface>(
        static_cast<Interface*>(MarshalForCaller(__uuidof(Interface), object).detach()));
}

}  // namespace shell
