#include "element_store.h"

#include <cwchar>

namespace {

const wchar_t escaped[] = L"\\/:*?\"<>|%";

bool kept_as_is(wchar_t c) { return c >= 0x20 && c < 0x7F && !std::wcschr(escaped, c); }

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    // Names are matched without regard to letter case: so are the digits.
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

}  // namespace

std::wstring StandInName(const std::wstring& stored_name) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring name = L"?";
    for (wchar_t c : stored_name) {
        if (kept_as_is(c)) {
            name += c;
            continue;
        }
        name += L'%';
        for (int shift = 12; shift >= 0; shift -= 4) name += digits[(c >> shift) & 0xF];
    }
    return name;
}

bool StoredNameOfStandIn(const std::wstring& stand_in, std::wstring& stored_name) {
    if (stand_in.size() < 2 || stand_in[0] != L'?') return false;
    std::wstring stored;
    for (size_t i = 1; i < stand_in.size(); ++i) {
        wchar_t c = stand_in[i];
        if (c != L'%') {
            if (!kept_as_is(c)) return false;
            stored += c;
            continue;
        }
        if (i + 4 >= stand_in.size()) return false;
        unsigned value = 0;
        for (size_t k = 1; k <= 4; ++k) {
            int digit = hex_digit(stand_in[i + k]);
            if (digit < 0) return false;
            value = value << 4 | static_cast<unsigned>(digit);
        }
        // Written only for characters that are not kept as they are: one spelling per name.
        if (kept_as_is(static_cast<wchar_t>(value))) return false;
        stored += static_cast<wchar_t>(value);
        i += 4;
    }
    // Property-set streams are never children, so never stand-ins.
    if (stored[0] == L'\005') return false;
    stored_name = std::move(stored);
    return true;
}
