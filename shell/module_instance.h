// The shell extension's own module: its instance handle, kept at process attach, names the DLL's path and
// every resource of the extension (dialogs, animations, icons, registration scripts).
#pragma once
#include <windows.h>

namespace shell {

HINSTANCE ModuleInstance() noexcept;
void SetModuleInstance(HINSTANCE instance) noexcept;

}  // namespace shell
