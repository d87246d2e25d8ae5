#include "hashed_element_name.h"

#include <tools/com_error.h>

#include <shlwapi.h>
#include <cstring>

std::wstring FoldedElementName(const std::wstring& display_name) {
    std::wstring folded(display_name.c_str());
    if (!folded.empty()) CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

GUID ElementNameHash(const std::wstring& display_name) {
    std::wstring folded = FoldedElementName(display_name);
    BYTE hash[16] = {};
    if (FAILED(HashData(reinterpret_cast<BYTE*>(folded.data()), static_cast<DWORD>(folded.size() * sizeof(wchar_t)), hash, sizeof hash)))
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
