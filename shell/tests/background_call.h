// A command run on a thread of its own (with its own COM apartment) while the test's thread answers its windows and
// checks them: doctest's assertions stay on the test's thread.
#pragma once
#include <windows.h>
#include <functional>
#include <thread>

namespace shell_testing {

class background_call {
public:
    // body's result is kept; anything it throws becomes the HRESULT of the exception rule.
    explicit background_call(std::function<bool()> body);
    ~background_call();
    background_call(const background_call&) = delete;
    background_call& operator=(const background_call&) = delete;

    // Waits for the body to end; false when it had not ended within timeout_ms.
    bool finished(DWORD timeout_ms = 60000);
    bool result() const { return result_; }
    HRESULT failure() const { return failure_; }

private:
    HANDLE done_;
    bool result_ = false;
    HRESULT failure_ = E_PENDING;
    std::thread thread_;
};

}  // namespace shell_testing
