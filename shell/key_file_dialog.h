// The common dialogs that choose a key file (PKCS#12, *.pfx); a dialog that fails raises tools::file_dialog_failure.
#pragma once
#include <windows.h>
#include <string>

namespace shell {

// An existing key file to read. False when the user cancelled.
bool ChooseKeyFileToOpen(HWND owner, const wchar_t* title, std::wstring& path);
// A key file to write; the dialog asks before an existing file is chosen (a key file written over may be the only
// copy of another storage's key). False when the user cancelled.
bool ChooseKeyFileToSave(HWND owner, const wchar_t* title, std::wstring& path);

}  // namespace shell
