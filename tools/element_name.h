// The 16 bytes that an element's compound-file name stands for (the FMTID of its property set).
#pragma once
#include <windows.h>
#include <string>

// Four radix-32 words separated by white space, each read as a 32-bit little-endian word.
// Throws std::out_of_range for fewer than four words, _com_error E_FAIL for a word beyond 32 bits.
GUID ParseElementName(const wchar_t* text);
inline GUID ParseElementName(const std::wstring& text) { return ParseElementName(text.c_str()); }
