// Stands in for no platform piece: the one test of whether the program runs under Wine, asked by the layers
// here that replace pieces Wine lacks or gets wrong.
#pragma once
#include <windows.h>

namespace platform {

// Wine's ntdll exports wine_get_version; no Windows ntdll does.
inline bool running_under_wine() noexcept {
    static const bool answer = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version");
    }();
    return answer;
}

}  // namespace platform
