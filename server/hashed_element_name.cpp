#include "hashed_element_name.h"

#include <tools/com_error.h>

#include <shlwapi.h>
#include <cstring>
#include <vector>

GUID ElementNameHash(const std::wstring& display_name) {
    // The Windows case mapping, over the name up to its first NUL.
    std::vector<wchar_t> lower(display_name.c_str(), display_name.c_str() + lstrlenW(display_name.c_str()));
    if (!lower.empty()) CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    BYTE hash[16] = {};
    static const wchar_t nothing = 0;
    const wchar_t* data = lower.empty() ? &nothing : lower.data();
    if (FAILED(HashData(reinterpret_cast<BYTE*>(const_cast<wchar_t*>(data)), static_cast<DWORD>(lower.size() * sizeof(wchar_t)), hash, sizeof hash)))
        _com_issue_error(E_FAIL);
    GUID result;
    std::memcpy(&result, hash, sizeof result);
    return result;
}

std::wstring HashedElementName(const GUID& hash) {
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuv";
    unsigned char bytes[16];
    std::memcpy(bytes, &hash, sizeof bytes);
    std::wstring name;
    for (int w = 0; w < 4; ++w) {
        DWORD word = static_cast<DWORD>(bytes[4 * w]) | (static_cast<DWORD>(bytes[4 * w + 1]) << 8) |
                     (static_cast<DWORD>(bytes[4 * w + 2]) << 16) | (static_cast<DWORD>(bytes[4 * w + 3]) << 24);
        wchar_t text[8];
        int n = 0;
        do {
            text[n++] = digits[word % 32];
            word /= 32;
        } while (word);
        if (w) name += L' ';
        while (n) name += text[--n];
    }
    return name;
}
