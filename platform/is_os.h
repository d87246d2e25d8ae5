// Stands in for IsOS of the shell utility library (ordinal 437), whose server-edition test Wine answers wrongly.
#pragma once
#include <windows.h>
#include "running_under_wine.h"

namespace platform {

constexpr DWORD os_anyserver = 29;
constexpr DWORD os_wow6432 = 30;

// IsOS(feature) as Windows answers it; false when the library or the entry is missing.
inline bool is_os(DWORD feature) {
    if (feature == os_anyserver && running_under_wine()) {
        // Wine's IsOS calls every NT system a server; the product type tells workstations apart.
        OSVERSIONINFOEXW version{};
        version.dwOSVersionInfoSize = sizeof(version);
        if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
            return version.wProductType != VER_NT_WORKSTATION;
    }
    using is_os_fn = BOOL(WINAPI*)(DWORD);
    HMODULE shlwapi = LoadLibraryW(L"shlwapi.dll");
    if (!shlwapi) return false;
    // Older systems export IsOS by ordinal only.
    auto fn = reinterpret_cast<is_os_fn>(reinterpret_cast<void*>(GetProcAddress(shlwapi, MAKEINTRESOURCEA(437))));
    bool answer = fn && fn(feature);
    FreeLibrary(shlwapi);
    return answer;
}

}  // namespace platform
