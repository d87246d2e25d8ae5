// Stands in for the PKCS#12 part of CryptUIWizImport, which Wine 8 lacks: its wizard refuses every .pfx file.
#pragma once
#include <windows.h>
#include <string>

namespace platform {

// Whether the system's certificate import wizard reads PKCS#12 files itself (everywhere but Wine).
bool import_wizard_reads_pfx();

// Asks for the password of a key file in a small modal dialog captioned with title (the system's own wizard
// title when none). False when the user cancelled.
bool ask_key_file_password(HWND owner, const wchar_t* title, const wchar_t* key_file, std::wstring& password);

}  // namespace platform
