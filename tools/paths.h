// The path of a module and the pieces of a path.
#pragma once
#include <windows.h>
#include <string>

namespace tools {

// The full path of the module (null: the program itself); a path longer than 259 characters is cut.
std::wstring module_file_path(HMODULE module);

// The full form of a path: made absolute against the current folder, "." and ".." resolved, and where the file
// exists its short names in their long form. Empty when no full path can be formed.
std::wstring full_path(const std::wstring& path);

// From the last dot of the file name on, the dot included; empty when there is none.
std::wstring path_extension(const wchar_t* path);
// The folder part without its final separator: "C:\a\b.txt" gives "C:\a", "C:\b.txt" gives "C:",
// a bare file name gives "".
std::wstring path_directory(const wchar_t* path);
std::wstring path_file_name(const wchar_t* path);

inline std::wstring path_extension(const std::wstring& path) { return path_extension(path.c_str()); }
inline std::wstring path_directory(const std::wstring& path) { return path_directory(path.c_str()); }
inline std::wstring path_file_name(const std::wstring& path) { return path_file_name(path.c_str()); }

}  // namespace tools
