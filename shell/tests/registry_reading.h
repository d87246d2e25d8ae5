// Reading the prefix's registry back in the shell's tests.
#pragma once
#include <windows.h>
#include <optional>
#include <string>

namespace shell_testing {

// A REG_SZ value (name null: the default value), or nothing when the key or value is missing.
std::optional<std::wstring> registry_text(HKEY root, const std::wstring& key, const wchar_t* name = nullptr);
std::optional<DWORD> registry_dword(HKEY root, const std::wstring& key, const wchar_t* name);
bool registry_value_exists(HKEY root, const std::wstring& key, const wchar_t* name);

}  // namespace shell_testing
