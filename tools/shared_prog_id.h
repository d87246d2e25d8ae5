// A ProgID under HKEY_CLASSES_ROOT that two registrations write: the storage server's (the ProgID of its class)
// and the shell extension's ("Orrisafe.3.0" is also the storage file type, whose CLSID subkey must name the
// namespace folder). The key can name one class only; each registration uses these to leave the other's
// class in place.
#pragma once
#include <windows.h>
#include <optional>
#include <string>

namespace tools {

struct prog_id_class {
    std::wstring description;  // the key's default value
    std::wstring clsid;        // the default value of its CLSID subkey, braced GUID text
};

// What HKCR\<prog_id> names now; nothing when the key or its CLSID subkey is missing.
std::optional<prog_id_class> read_prog_id_class(const wchar_t* prog_id);

// Writes the key's default value and its CLSID subkey, creating them as needed. Throws tools::win_except.
void write_prog_id_class(const wchar_t* prog_id, const prog_id_class& named);

// Whether HKCR\CLSID\<clsid> exists, that is the class is registered.
bool class_registered(const std::wstring& clsid);

// Whether two braced GUID texts name the same GUID (the case of the hexadecimal digits does not matter).
bool same_guid_text(const std::wstring& a, const std::wstring& b);

}  // namespace tools
