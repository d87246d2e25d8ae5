// Stands in for the private-key export of CryptUIWizExport, which Wine 8 cannot do: its wizard never writes a key.
#include "pfx_export_wizard.h"
#include "password_prompt.h"
#include "pfx_import_wizard.h"

namespace platform {

bool export_wizard_exports_keys() {
    // The same platform that cannot read key files in its import wizard cannot write them in its export wizard.
    return import_wizard_reads_pfx();
}

bool ask_export_password(HWND owner, const wchar_t* title, std::wstring& password) {
    return ask_password(owner, title && *title ? title : L"Certificate Export Wizard",
                        L"Type a password to protect the private key:", L"Type the password again:", password);
}

}  // namespace platform
