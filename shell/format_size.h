// Byte counts as the progress windows and the item pages show them.
#pragma once
#include <windows.h>
#include <string>

namespace shell {

enum class size_format : int {
    blanks = 0,  // 1 234 567
    commas = 1,  // 1,234,567
    units = 2,   // 1023 bytes, 1.50 Kb, 1.00 Gb ...
};

// Any other mode gives the empty text.
std::wstring FormatSize(ULONGLONG size, int mode);
inline std::wstring FormatSize(ULONGLONG size, size_format mode) { return FormatSize(size, static_cast<int>(mode)); }

}  // namespace shell
