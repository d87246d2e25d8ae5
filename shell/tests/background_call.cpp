#include "background_call.h"

#include <tools/com_initializer.h>
#include <tools/hresult.h>

namespace shell_testing {

background_call::background_call(std::function<bool()> body) : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, body = std::move(body)] {
        tools::com_initializer com;
        failure_ = tools::com_boundary([&] {
            com.check();
            result_ = body();
        });
        SetEvent(done_);
    });
}

background_call::~background_call() {
    // A body that never ends is left behind rather than joined for ever.
    if (finished(60000))
        thread_.join();
    else
        thread_.detach();
    CloseHandle(done_);
}

bool background_call::finished(DWORD timeout_ms) { return WaitForSingleObject(done_, timeout_ms) == WAIT_OBJECT_0; }

}  // namespace shell_testing
