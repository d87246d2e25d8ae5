#include "monitor/update_check.h"

#include "monitor/stoppable_wait.h"
#include "monitor/update_library.h"

#include <process.h>
#include <memory>

namespace monitor {

namespace {

using tools::auto_reg_key;

// Whether the product key asks for a check. A value of another type or size, or one that cannot be read, does not.
bool ChecksSwitchedOn(HKEY key) noexcept {
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, kCheckUpdatesValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return false;
    return type == REG_DWORD && size == sizeof value && value != 0;
}

unsigned __stdcall UpdateCheckThread(void* argument) {
    std::unique_ptr<update_check_settings> settings(static_cast<update_check_settings*>(argument));
    RunUpdateChecks(*settings);
    return 0;
}

}  // namespace

update_check_end RunUpdateChecks(const update_check_settings& settings) noexcept {
    if (WaitUnlessStopped(settings.stop, settings.first_delay_ms)) return update_check_end::stopped;
    auto_library library;
    check_for_updates_function check = nullptr;
    for (;;) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &raw) != ERROR_SUCCESS)
            return update_check_end::switched_off;
        auto_reg_key key(raw);
        if (!ChecksSwitchedOn(key.get())) return update_check_end::switched_off;
        if (!check) {
            try {
                check = BindUpdateCheck(settings.library_path.empty() ? DefaultUpdateLibraryPath() : settings.library_path,
                                        library);
            } catch (...) {  // the program's own path could not be read
            }
            if (!check) return update_check_end::library_missing;
        }
        if (check(0, 0) == kStopChecking) {
            RegDeleteValueW(key.get(), kCheckUpdatesValue);
            return update_check_end::stop_checking;
        }
        key.reset();  // not held through a week's pause
        if (WaitUnlessStopped(settings.stop, settings.interval_ms)) return update_check_end::stopped;
    }
}

HANDLE StartUpdateCheckThread(const update_check_settings& settings) noexcept {
    try {
        auto copy = std::make_unique<update_check_settings>(settings);
        uintptr_t thread = _beginthreadex(nullptr, 0, &UpdateCheckThread, copy.get(), 0, nullptr);
        if (!thread) return nullptr;
        copy.release();  // the thread owns it now
        return reinterpret_cast<HANDLE>(thread);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace monitor
