// The password prompt that our stand-ins for the certificate wizards' key-file steps show, where the system's
// wizards ask inside themselves.
#pragma once
#include <windows.h>
#include <string>

namespace platform {

// A small modal dialog captioned caption: label above a password box (control 100) and, when again_label is
// given, a second box (control 101) under it that must hold the same text before OK closes the dialog.
// False when the user cancelled; password is left alone then.
bool ask_password(HWND owner, const wchar_t* caption, const std::wstring& label, const wchar_t* again_label,
                  std::wstring& password);

}  // namespace platform
