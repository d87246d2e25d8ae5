#include "worker_thread.h"

#include <process.h>
#include <atomic>
#include <tools/auto_handle.h>
#include <tools/com_error.h>
#include <tools/critical_section.h>
#include <tools/win_except.h>
#include "cross_thread_call.h"
#include "thread_mailbox.h"

namespace shell {

namespace {

std::atomic<DWORD> worker_id{0};

struct worker_state {
    // Held around starting, binding and stopping.
    tools::critical_section lock;
    tools::auto_kernel_handle thread;
};

worker_state& worker() {
    static worker_state state;
    return state;
}

unsigned __stdcall WorkerThreadProc(void* ready_event) {
    worker_id = GetCurrentThreadId();
    CoInitialize(nullptr);
    SetEvent(static_cast<HANDLE>(ready_event));
    for (;;) {
        try {
            if (WorkerMessageLoop(serve::all_messages)) break;
        } catch (...) {
            // A failed wait would fail again at once.
            Sleep(100);
        }
    }
    CoUninitialize();
    return 0;
}

// Under the worker lock.
void start_worker(worker_state& state) {
    tools::auto_kernel_handle ready(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!ready) tools::throw_last_error();
    uintptr_t thread = _beginthreadex(nullptr, 0, &WorkerThreadProc, ready.get(), 0, nullptr);
    if (!thread) tools::throw_last_error();
    state.thread.take_over(reinterpret_cast<HANDLE>(thread));
    HANDLE waits[2] = {ready.get(), state.thread.get()};
    if (WaitServingMessages(waits, 2, INFINITE) != WAIT_OBJECT_0) {
        // Ended before it was ready: only a thread killed from outside does.
        state.thread.reset();
        worker_id = 0;
        tools::throw_invalid_thread();
    }
}

// Under the worker lock. One bounded attempt: a worker busy in a call, or one that cannot end (at process
// detach its exit waits for the loader lock we hold), is terminated once the budget is spent.
void stop_worker(worker_state& state, DWORD budget_ms) noexcept {
    if (!state.thread) return;
    const DWORD start = GetTickCount();
    try {
        SendThreadMessage(worker_id, answer_message, 0, budget_ms);
    } catch (...) {
    }
    DWORD elapsed = GetTickCount() - start;
    DWORD left = elapsed >= budget_ms ? 0 : budget_ms - elapsed;
    if (WaitForSingleObject(state.thread.get(), left) == WAIT_TIMEOUT) TerminateThread(state.thread.get(), 0);
    state.thread.reset();
    worker_id = 0;
}

}  // namespace

DWORD WorkerThreadId() noexcept { return worker_id; }

void StartWorkerThread(bool start, DWORD stop_budget_ms) {
    worker_state& state = worker();
    tools::scoped_lock lock(state.lock);
    if (!start) {
        stop_worker(state, stop_budget_ms);
        return;
    }
    if (!state.thread) start_worker(state);
}

void EnsureWorkerThread(DWORD& owner_thread_id) {
    worker_state& state = worker();
    tools::scoped_lock lock(state.lock);
    // A worker that ended on its own (it never does unless it is killed) is replaced.
    if (state.thread && WaitForSingleObject(state.thread.get(), 0) != WAIT_TIMEOUT) stop_worker(state, 0);
    if (!state.thread) start_worker(state);
    if (owner_thread_id == unbound_thread_id) owner_thread_id = worker_id;
}

bool StopWorkerThreadIf(bool (*can_stop)()) {
    worker_state& state = worker();
    tools::scoped_lock lock(state.lock);
    if (!can_stop()) return false;
    stop_worker(state, 1000);
    return true;
}

tools::interface_holder<IStream> MarshalToStream(REFIID iid, IUnknown* object) {
    tools::interface_holder<IStream> stream;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(iid, object, stream.put());
    if (FAILED(hr)) _com_issue_error(hr);
    return stream;
}

}  // namespace shell
