#include "format_size.h"

#include <cstdio>

namespace shell {

namespace {

std::wstring grouped(ULONGLONG size, wchar_t separator) {
    std::wstring digits = std::to_wstring(size);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, separator);
    return digits;
}

std::wstring with_unit(ULONGLONG size) {
    if (size < 1024) return std::to_wstring(size) + L" bytes";
    static const struct {
        int shift;
        const wchar_t* unit;
    } units[] = {{10, L" Kb"}, {20, L" Mb"}, {30, L" Gb"}, {40, L" Tb"}};
    size_t at = 0;
    while (at + 1 < std::size(units) && size >= (1ull << units[at + 1].shift)) ++at;
    wchar_t text[64];
    swprintf(text, 64, L"%.2f", static_cast<double>(size) / static_cast<double>(1ull << units[at].shift));
    return text + std::wstring(units[at].unit);
}

}  // namespace

std::wstring FormatSize(ULONGLONG size, int mode) {
    switch (mode) {
    case 0: return grouped(size, L' ');
    case 1: return grouped(size, L',');
    case 2: return with_unit(size);
    default: return L"";
    }
}

}  // namespace shell
