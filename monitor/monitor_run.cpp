#include "monitor/monitor_run.h"

#include <tools/auto_handle.h>

namespace monitor {

void RunMonitor(const probe_settings& probe, const update_check_settings& update, bool administrator) {
    tools::auto_kernel_handle update_thread;
    if (administrator) update_thread.take_over(StartUpdateCheckThread(update));
    RunProbeLoop(probe);
    if (update_thread) WaitForSingleObject(update_thread.get(), INFINITE);
}

}  // namespace monitor
