// Registration of the shell extension: its classes, the storage file type ".orrisafe" with its "New" command,
// the cached-extension values and the user-agent marker, applied by the system registrar from the DLL's
// "REGISTRY" scripts.
#pragma once
#include <windows.h>
#include <span>
#include <string>
#include <platform/registrar_values.h>
#include "class_table.h"

namespace shell {

// The script for Windows 5.1, and the one for every other version.
inline constexpr UINT registration_script_xp = 105;
inline constexpr UINT registration_script = 106;

// DllRegisterServer / DllUnregisterServer: the whole registration of the module, or its removal.
HRESULT UpdateRegistration(bool do_register) noexcept;

// 1 for Windows 5.0, 2 for 5.1, 3 for any 6.x, 0 for anything else or when the version cannot be read.
int GetShellVersionClass() noexcept;
UINT RegistrationScriptFor(int version_class) noexcept;

// The 20 replacements the scripts use, for a module at module_path.
platform::registrar_replacements RegistrationReplacements(const std::wstring& module_path);

// Sets (register) or deletes the "Shell Extensions\Cached" values of every class that can be created; failures
// are skipped.
void UpdateCachedValues(bool do_register, std::span<const ShellClass> classes) noexcept;

// The marker value "Pellmoor Orrisafe" under the user agent's "Post Platform" key; failures are ignored.
void UserAgentToken(bool do_register, bool per_user) noexcept;

}  // namespace shell
