// Stands in for the private-key export of CryptUIWizExport, which Wine 8 cannot do: its wizard never writes a key.
#include "pfx_export_wizard.h"
#include "password_prompt.h"
#include "running_under_wine.h"

namespace platform {

bool export_wizard_exports_keys() { return !running_under_wine(); }

bool ask_export_password(HWND owner, const wchar_t* title, std::wstring& password) {
    return ask_password(owner, title && *title ? title : L"Certificate Export Wizard",
                        L"Type a password to protect the private key:", L"Type the password again:", password);
}

}  // namespace platform
