// The monitor's pauses: the product never ends them early, the tests end them through an event.
#pragma once
#include <windows.h>

namespace monitor {

// Waits `ms` milliseconds, or until `stop` is signalled; a null `stop` is never signalled. True when stopped.
// A wait that fails still takes its time, so no loop built on it can spin.
inline bool WaitUnlessStopped(HANDLE stop, DWORD ms) noexcept {
    if (stop) {
        DWORD result = WaitForSingleObject(stop, ms);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_FAILED) return false;
    }
    Sleep(ms);
    return false;
}

}  // namespace monitor
