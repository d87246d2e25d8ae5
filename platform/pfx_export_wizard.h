// Stands in for the private-key export of CryptUIWizExport, which Wine 8 cannot do: its wizard never writes a key.
#pragma once
#include <windows.h>
#include <string>

namespace platform {

// Whether the system's certificate export wizard can write a certificate with its private key (everywhere but Wine).
bool export_wizard_exports_keys();

// Asks in a small modal dialog captioned with title for the password that is to protect an exported key, typed
// twice; the dialog stays until both agree or the user cancels. False when the user cancelled.
bool ask_export_password(HWND owner, const wchar_t* title, std::wstring& password);

}  // namespace platform
