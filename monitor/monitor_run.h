// The monitor's work once it holds the product mutex and has joined COM.
#pragma once
#include "monitor/server_probe.h"
#include "monitor/update_check.h"

namespace monitor {

// For an administrator, starts the update checks on a thread of their own; then runs the probe loop on the calling
// thread. Returns only after the probe loop's stop event was signalled and the update thread, whose settings
// should carry the same event, has ended.
void RunMonitor(const probe_settings& probe, const update_check_settings& update, bool administrator);

}  // namespace monitor
