// BSTR arguments as wide strings: a NULL BSTR is the empty text.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

inline std::wstring BstrText(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// A new BSTR holding text; std::bad_alloc when none can be made.
BSTR AllocBstr(const std::wstring& text);
