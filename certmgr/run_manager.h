// The library's one export, as launchers call it: stdcall, undecorated name "RunManager", one 32-bit argument.
#pragma once
#include <windows.h>

// Low byte 0: warn when keys need attention, then open the manager. Otherwise only ask, when keys need attention,
// whether to open the manager. Always returns 0; failures are shown, never thrown.
extern "C" int WINAPI RunManager(DWORD mode);

using RunManagerFunction = int(WINAPI*)(DWORD mode);
