// orriupdate.dll: the update library the monitor calls. The product has no update service, so the check says that
// no update source is configured and asks the monitor to stop checking. Another library of the same name and
// entry can take its place.
#include "monitor/update_entry.h"

extern "C" int WINAPI OrsCheckForUpdates(DWORD, DWORD) {
    OutputDebugStringW(L"Orrisafe: no update source is configured; update checks are switched off.\n");
    return monitor::kStopChecking;
}
