// Stands in for what Wine's registrar (atl.dll) gets wrong with the values of a "REGISTRY" script: it leaves the
// values named with `val` behind at unregistration, and it writes a `d` value above 0x7FFFFFFF as 0x7FFFFFFF.
// (It also reads "ForceRemove val" as a key named "val", so our scripts write plain `val`: a value set again at
// registration replaces the old one anyway.)
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using registrar_replacements = std::vector<std::pair<std::wstring, std::wstring>>;

// A value the script writes: its key (root and path below it), its name (empty: the key's default value), whether
// the script names it with `val`, its type letter and its data as written.
struct script_value {
    HKEY root;
    std::wstring key;
    std::wstring name;
    bool named_with_val;
    wchar_t type;
    std::wstring data;
};

// The values of a script text, after its %NAME% replacements ("%%" stands for "%"). A script that the registrar
// could not read either throws std::invalid_argument.
std::vector<script_value> script_values(const std::wstring& script, const registrar_replacements& replacements);

// The values of the script resource of a module (ANSI text, as the registrar reads it). Throws
// std::runtime_error when the module or the resource cannot be read.
std::vector<script_value> script_values(const wchar_t* module_path, UINT resource_id, const wchar_t* type,
                                        const registrar_replacements& replacements);

// After the registrar's unregistration: deletes each `val` value where its key still exists.
void remove_val_values(const std::vector<script_value>& values) noexcept;

// After the registrar's registration: writes each `d` value again with its full 32 bits.
void rewrite_dword_values(const std::vector<script_value>& values) noexcept;

}  // namespace platform
