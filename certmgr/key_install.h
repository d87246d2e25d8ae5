// Installing a key file into the user's certificate store from the manager.
#pragma once
#include <windows.h>

// Asks for a key file and installs it (ImportPfxIntoUserStore). A plain cancel of the file dialog shows nothing;
// a failing file dialog shows its error code. Returns whether a key file was chosen and installed.
bool InstallKeyFromPfx(HWND owner);

// The system's import wizard for the key file into the current user's store (our password prompt and import
// where that wizard cannot read key files); errors are shown, owned by owner. Returns false after an error.
bool ImportPfxIntoUserStore(HWND owner, const wchar_t* path);
