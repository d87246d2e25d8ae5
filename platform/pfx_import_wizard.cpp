// Stands in for the PKCS#12 part of CryptUIWizImport, which Wine 8 lacks: its wizard refuses every .pfx file.
#include "pfx_import_wizard.h"
#include "password_prompt.h"
#include "running_under_wine.h"

#include <shlwapi.h>

namespace platform {

bool import_wizard_reads_pfx() { return !running_under_wine(); }

bool ask_key_file_password(HWND owner, const wchar_t* title, const wchar_t* key_file, std::wstring& password) {
    std::wstring prompt = L"Type the password of the private key in " + std::wstring(PathFindFileNameW(key_file)) + L":";
    return ask_password(owner, title && *title ? title : L"Certificate Import Wizard", prompt, nullptr, password);
}

}  // namespace platform
