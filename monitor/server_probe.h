// The probe loop: whether the storage server can be reached, and the shell told whenever that changes.
#pragma once
#include <windows.h>
#include <functional>

namespace monitor {

// Whether a new connection to the storage server can be made; the connection is released at once.
// Any failure counts as unreachable (COM starts the service on demand, so a stopped service is reached).
bool ServerReachable() noexcept;

// Tells the shell that file associations changed, so that Explorer asks the icon overlays again.
void NotifyShell(bool reachable) noexcept;

struct probe_settings {
    DWORD interval_ms = 3000;
    // Called on the first probe and on every change of reachability, with the new state.
    std::function<void(bool reachable)> notify = NotifyShell;
    // Ends the loop when signalled; the program passes none and probes for as long as it runs.
    HANDLE stop = nullptr;
};

// Probes every interval on the calling thread, which has joined COM. Returns only once `stop` is signalled.
void RunProbeLoop(const probe_settings& settings);

}  // namespace monitor
