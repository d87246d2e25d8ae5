// The update library, bound when the first check is due: a missing library ends the checks, not the monitor.
#pragma once
#include <windows.h>
#include <string>
#include <tools/auto_handle.h>

#include "monitor/update_entry.h"

namespace monitor {

struct library_policy {
    using value_type = HMODULE;
    static BOOL free(HMODULE module) noexcept { return FreeLibrary(module); }
};
using auto_library = tools::auto_handle<library_policy>;

// orriupdate.dll in the program's own folder: a library found along the search path is never taken instead.
std::wstring DefaultUpdateLibraryPath();

// Loads the library at `path` into `library` and returns its check, or null when the library cannot be loaded or
// lacks the entry (then `library` is left empty).
check_for_updates_function BindUpdateCheck(const std::wstring& path, auto_library& library) noexcept;

}  // namespace monitor
