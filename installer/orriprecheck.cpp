// The pre-install check: tells the installer whether this machine is one the product supports.
#include <windows.h>

#include <platform/is_os.h>

#include "precheck_decision.h"

namespace {

precheck::platform_answers query_platform() {
    precheck::platform_answers answers;
    answers.server_edition = platform::is_os(platform::os_anyserver);
    answers.wow64 = platform::is_os(platform::os_wow6432);
    answers.safe_mode = GetSystemMetrics(SM_CLEANBOOT) != 0;
    return answers;
}

}  // namespace

// Exported as "_PreInstallCheck@0" on every architecture (see orriprecheck.def.in).
extern "C" int WINAPI PreInstallCheck() {
    return precheck::decide(query_platform());
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
