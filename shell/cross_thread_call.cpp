#include "cross_thread_call.h"

#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <tools/com_error.h>
#include <tools/critical_section.h>
#include "thread_mailbox.h"
#include "worker_thread.h"

namespace shell {

namespace {

struct call_record_table {
    tools::critical_section lock;
    std::map<DWORD, std::unique_ptr<CServingLock>> records;
};

// Serialises the calls to one thread: a second caller waits until the first has its answer, while a thread
// already inside a call may call again.
CServingLock& CallRecordOf(DWORD thread_id) {
    static call_record_table table;
    tools::scoped_lock lock(table.lock);
    std::unique_ptr<CServingLock>& record = table.records[thread_id];
    if (!record) record = std::make_unique<CServingLock>();
    return *record;
}

void store_failure(CallRequest& request, LONG status, const char* text, HRESULT hr) noexcept {
    request.status = status;
    request.hr = hr;
    try {
        request.text = text;
    } catch (...) {
    }
}

serve serving_of_calling_thread() {
    return GetCurrentThreadId() == WorkerThreadId() ? serve::all_messages : serve::sent_messages;
}

}  // namespace

void HandleCallMessage(DWORD number, ULONG_PTR argument) {
    if (number != call_message) return;
    auto& request = *reinterpret_cast<CallRequest*>(argument);
    const DWORD sender = request.sender;
    try {
        request.call->Invoke();
    } catch (const std::bad_alloc&) {
        store_failure(request, CallRequest::com_failure, "", E_OUTOFMEMORY);
    } catch (const std::exception& e) {
        store_failure(request, CallRequest::standard_exception, e.what(), S_OK);
    } catch (long hr) {
        store_failure(request, CallRequest::com_failure, "", hr);
    } catch (const _com_error& e) {
        store_failure(request, CallRequest::com_failure, "", e.Error());
    } catch (...) {
        store_failure(request, CallRequest::com_failure, "", E_UNEXPECTED);
    }
    // The request lives on the sender's stack: it is not touched once the answer is out.
    SendThreadMessage(sender, answer_message, 0);
}

bool WorkerMessageLoop(serve what, DWORD answer_from, HANDLE peer) {
    for (;;) {
        ThreadMessage message;
        if (!ReceiveThreadMessage(message, peer, what)) return false;
        if (message.number == answer_message) {
            if (answer_from == 0 || message.sender == answer_from) return true;
            continue;
        }
        HandleCallMessage(message.number, message.argument);
    }
}

void CallOnWorkerThread(CCrossThreadCall& call, DWORD target) {
    CallRequest request;
    request.call = &call;
    request.sender = GetCurrentThreadId();
    {
        CServingLockGuard serialised(CallRecordOf(target));
        tools::auto_kernel_handle thread(OpenThread(SYNCHRONIZE, FALSE, target));
        if (!thread) tools::throw_invalid_thread();
        if (!SendThreadMessage(target, call_message, reinterpret_cast<ULONG_PTR>(&request)))
            tools::throw_invalid_thread();
        // A target that ends before it answers will never answer.
        if (!WorkerMessageLoop(serving_of_calling_thread(), target, thread.get())) tools::throw_invalid_thread();
    }
    switch (request.status) {
    case CallRequest::standard_exception: throw std::runtime_error(request.text);
    case CallRequest::com_failure: _com_issue_error(request.hr);
    default: break;
    }
}

}  // namespace shell
