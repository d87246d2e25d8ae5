#include "element_name.h"
#include "com_error.h"

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <stdexcept>
#include <vector>

GUID ParseElementName(const wchar_t* text) {
    std::vector<std::wstring> tokens;
    for (const wchar_t* p = text ? text : L""; *p;) {
        while (*p && std::iswspace(*p)) ++p;
        const wchar_t* start = p;
        while (*p && !std::iswspace(*p)) ++p;
        if (p != start) tokens.emplace_back(start, p);
    }
    if (tokens.size() < 4) throw std::out_of_range("invalid vector<T> subscript");
    unsigned char bytes[16];
    for (int i = 0; i < 4; ++i) {
        errno = 0;
        wchar_t* end = nullptr;
        unsigned long value = std::wcstoul(tokens[i].c_str(), &end, 32);
        if (errno) _com_issue_error(E_FAIL);
        auto word = static_cast<unsigned long long>(value);
        if (word > 0xFFFFFFFFull) _com_issue_error(E_FAIL);
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(word >> (8 * b));
    }
    GUID result;
    std::memcpy(&result, bytes, sizeof result);
    return result;
}
