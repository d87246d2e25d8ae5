// The compound-file name of an element: a hash of its lower-cased display name in radix 32.
#pragma once
#include <windows.h>
#include <string>

// The name as element identity sees it: up to its first NUL, lower-cased by the Windows case mapping. Two
// display names are one element exactly when these are equal.
std::wstring FoldedElementName(const std::wstring& display_name);

// The 16 bytes of HashData over the lower-cased name's UTF-16LE bytes; also the FMTID of its property set.
GUID ElementNameHash(const std::wstring& display_name);

// The hash as four 32-bit little-endian words in radix 32 (digits 0-9, a-v), joined by one blank.
std::wstring HashedElementName(const GUID& hash);
inline std::wstring HashedElementName(const std::wstring& display_name) {
    return HashedElementName(ElementNameHash(display_name));
}
