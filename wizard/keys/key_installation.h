// Offering and installing a key into the current user's certificate store ("MY").
#pragma once
#include <windows.h>
#include <string>

// The install question after a storage and its key were made, with a check box that stops it for good; the
// answer is kept under a value name that the shell extension's own install question shares.
// IDYES or IDNO, the kept answer when the box was ticked before, or -1 when the question cannot be shown.
int AskInstallKey(HWND owner);

// The system's certificate import wizard for a key file, into the current user's store. TRUE when the key was
// imported or the user cancelled the wizard; FALSE after an error was shown, captioned with title. Never throws.
BOOL InstallKey(HWND owner, const wchar_t* key_file, const wchar_t* title);

// A new path for a key that must pass through a file: the user's local application-data folder, a new GUID
// and ".pfx". Throws tools::win_except(ERROR_FILE_NOT_FOUND) when the folder cannot be had.
std::wstring TempKeyFilePath();
