// The shell's one worker thread per process: a single-threaded apartment that owns every folder's server
// connection. It starts on first need and is stopped when the module may unload.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/interface_holder.h>

namespace shell {

// The worker's thread id, 0 when there is none.
DWORD WorkerThreadId() noexcept;

// Starts the worker (the caller waits until it is ready) or stops it. Stopping asks the worker to end and,
// when it has not ended within stop_budget_ms all told, terminates it; it never throws.
void StartWorkerThread(bool start, DWORD stop_budget_ms = 1000);

// Starts the worker when it is not running, then binds an object whose owner thread id is still unbound to it.
// Start and bind happen under one lock, so no object is bound while the worker is still starting.
void EnsureWorkerThread(DWORD& owner_thread_id);

// Stops the worker only while no object can need it (can_stop answers under the lock that binding takes).
// Returns whether the worker is gone.
bool StopWorkerThreadIf(bool (*can_stop)());

// An interface made ready to be unmarshalled on another thread; failures throw the COM error.
tools::interface_holder<IStream> MarshalToStream(REFIID iid, IUnknown* object);

}  // namespace shell
