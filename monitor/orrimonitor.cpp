// orrimonitor.exe: the windowless background program that watches whether the storage server can be reached and
// tells the shell when that changes, and runs the update checks for administrators. It runs until it is ended.
#include "monitor/monitor_run.h"

#include <shlobj.h>
#include <tools/com_initializer.h>
#include <tools/global_mutex.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tools::auto_kernel_handle mutex;
    try {
        // The product's presence marker, kept as an inheritable duplicate for the program's life.
        tools::auto_kernel_handle created = tools::create_global_mutex();
        mutex = created;
    } catch (...) {
        return 1;
    }
    // The multithreaded apartment: the probe thread owns no COM window, so it never holds up messages that other
    // programs send to every window while it waits between probes.
    tools::com_initializer com(tools::com_threading::multithreaded);
    if (!com.ok()) return 0;
    try {
        monitor::RunMonitor(monitor::probe_settings{}, monitor::update_check_settings{}, IsUserAnAdmin() != FALSE);
    } catch (...) {
    }
    return 0;
}
