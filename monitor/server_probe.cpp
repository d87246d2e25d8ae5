#include "monitor/server_probe.h"

#include "monitor/stoppable_wait.h"

#include <server/client/connect_server.h>
#include <shlobj.h>

namespace monitor {

bool ServerReachable() noexcept {
    try {
        ConnectServer();  // the holder releases the root object at once
        return true;
    } catch (...) {
        return false;
    }
}

void NotifyShell(bool) noexcept { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr); }

void RunProbeLoop(const probe_settings& settings) {
    enum { unknown = -1, unreachable = 0, reachable = 1 } state = unknown;
    do {
        bool now = ServerReachable();
        auto seen = now ? reachable : unreachable;
        if (seen != state) {
            settings.notify(now);
            state = seen;
        }
    } while (!WaitUnlessStopped(settings.stop, settings.interval_ms));
}

}  // namespace monitor
