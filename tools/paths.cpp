#include "paths.h"
#include "win_except.h"

#include <shlwapi.h>

namespace tools {

std::wstring module_file_path(HMODULE module) {
    wchar_t buffer[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) throw_last_error();
    return std::wstring(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
}

std::wstring full_path(const std::wstring& path) {
    if (path.empty()) return {};
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!size) return {};
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (!length || length >= size) return {};
    full.resize(length);
    size = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (!size) return full;
    std::wstring long_form(size, L'\0');
    length = GetLongPathNameW(full.c_str(), long_form.data(), size);
    if (!length || length >= size) return full;
    long_form.resize(length);
    return long_form;
}

std::wstring path_extension(const wchar_t* path) { return PathFindExtensionW(path); }

std::wstring path_directory(const wchar_t* path) {
    const wchar_t* name = PathFindFileNameW(path);
    if (name <= path) return {};
    return std::wstring(path, name - 1);
}

std::wstring path_file_name(const wchar_t* path) { return PathFindFileNameW(path); }

}  // namespace tools
