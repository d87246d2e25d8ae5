// The entry of the update library orriupdate.dll, as the monitor calls it: exported under the plain name
// "OrsCheckForUpdates", stdcall, two 32-bit arguments (the monitor passes 0 for both), an int result.
#pragma once
#include <windows.h>

namespace monitor {

// The one result with a meaning: stop checking (the monitor switches the checks off). Any other: check again later.
constexpr int kStopChecking = 2;

using check_for_updates_function = int(WINAPI*)(DWORD first, DWORD second);

constexpr char kCheckForUpdatesName[] = "OrsCheckForUpdates";
constexpr wchar_t kUpdateLibraryName[] = L"orriupdate.dll";

}  // namespace monitor
