#include "monitor/update_library.h"

#include <tools/paths.h>

namespace monitor {

std::wstring DefaultUpdateLibraryPath() {
    return tools::path_directory(tools::module_file_path(nullptr)) + L"\\" + kUpdateLibraryName;
}

check_for_updates_function BindUpdateCheck(const std::wstring& path, auto_library& library) noexcept {
    // Its own imports are looked for beside it, as they would be beside the program that imported it.
    library.take_over(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library) return nullptr;
    auto check = reinterpret_cast<check_for_updates_function>(GetProcAddress(library.get(), kCheckForUpdatesName));
    if (!check) library.reset();
    return check;
}

}  // namespace monitor
