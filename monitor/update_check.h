// The periodic update check of administrators: switched on by the installer's "CheckUpdates" value, run through
// the update library, switched off again when the library says so.
#pragma once
#include <windows.h>
#include <string>

namespace monitor {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Pellmoor\\Orrisafe";  // under HKEY_LOCAL_MACHINE
constexpr wchar_t kCheckUpdatesValue[] = L"CheckUpdates";

// Why the checks ended.
enum class update_check_end {
    switched_off,     // no product key, or "CheckUpdates" missing, not a REG_DWORD, or 0
    stop_checking,    // the library answered stop checking; "CheckUpdates" was deleted
    library_missing,  // the library or its entry could not be bound
    stopped,          // the settings' stop event
};

struct update_check_settings {
    DWORD first_delay_ms = 5 * 60 * 1000;
    DWORD interval_ms = 7 * 24 * 60 * 60 * 1000;
    std::wstring library_path;  // empty: orriupdate.dll beside the program
    HANDLE stop = nullptr;      // the program passes none
};

// Waits the first delay, then checks while "CheckUpdates" asks for it, one check per interval.
update_check_end RunUpdateChecks(const update_check_settings& settings) noexcept;

// Runs RunUpdateChecks on a thread of its own (no COM); the handle of that thread, or null when none could start.
HANDLE StartUpdateCheckThread(const update_check_settings& settings) noexcept;

}  // namespace monitor
