// Calls carried to another thread of the shell (in practice the worker that owns the server connection) and
// waited for. The exception kind survives the crossing: a standard exception arrives as std::runtime_error with
// its text, an HRESULT or COM error as a COM error with that HRESULT.
#pragma once
#include <windows.h>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <tools/win_except.h>
#include "message_serving_wait.h"

namespace shell {

// An object's owner thread id before it is bound to the worker.
inline constexpr DWORD unbound_thread_id = 0xFFFFFFFF;

class CCrossThreadCall {
public:
    virtual ~CCrossThreadCall() = default;
    // Runs the call on the receiving thread and keeps its result in the call object.
    virtual void Invoke() = 0;
};

// One call in flight; lives on the calling thread's stack.
struct CallRequest {
    enum status_code : LONG { none = 0, standard_exception = 1, com_failure = 2 };
    CCrossThreadCall* call = nullptr;
    DWORD sender = 0;
    LONG status = none;
    std::string text;
    HRESULT hr = S_OK;
};

// Runs a 0x7FF1 request and answers its sender with 0x7FF0 whatever Invoke did; other numbers are ignored.
void HandleCallMessage(DWORD number, ULONG_PTR argument);

// Serves messages on the calling thread until a 0x7FF0 arrives (true), from `answer_from` only when that is
// not 0, or until `peer` (a thread handle, may be null) ends (false).
bool WorkerMessageLoop(serve what, DWORD answer_from = 0, HANDLE peer = nullptr);

// Runs the call on the target thread and waits for it, serving the calls the target makes back meanwhile.
// Returns when the call succeeded or throws what it threw; throws tools::win_except ERROR_INVALID_THREAD_ID when
// the target has ended before it could answer.
void CallOnWorkerThread(CCrossThreadCall& call, DWORD target);

template <class Body>
class CFunctionCall final : public CCrossThreadCall {
public:
    using result_type = std::invoke_result_t<Body&>;
    explicit CFunctionCall(Body& body) : body_(body) {}
    void Invoke() override {
        if constexpr (std::is_void_v<result_type>)
            body_();
        else
            result_.emplace(body_());
    }
    result_type TakeResult() {
        if constexpr (!std::is_void_v<result_type>) return std::move(*result_);
    }

private:
    Body& body_;
    std::conditional_t<std::is_void_v<result_type>, bool, std::optional<result_type>> result_{};
};

// Runs body on the object's owner thread: directly when that is the calling thread, else carried there and
// waited for. Serves every call shape (a GUID, a status, an interface holder). An object never bound to the
// worker throws tools::win_except ERROR_INVALID_THREAD_ID.
template <class Body>
std::invoke_result_t<Body&> ForwardToOwner(DWORD owner_thread_id, Body&& body) {
    if (owner_thread_id == unbound_thread_id) tools::throw_invalid_thread();
    if (owner_thread_id == GetCurrentThreadId()) return body();
    CFunctionCall<std::remove_reference_t<Body>> call(body);
    CallOnWorkerThread(call, owner_thread_id);
    return call.TakeResult();
}

}  // namespace shell
