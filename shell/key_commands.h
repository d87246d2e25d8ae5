// The "Manage key" commands of a storage file, shared by its context menu and its tools page. Each runs on the
// caller's thread with its own server connection; every box and dialog is owned by the owner window. They return
// whether something changed and let failures (server, property, CryptoAPI, file) pass to the caller, which
// reports them; a command that fails has made only the changes before the failing step.
#pragma once
#include <windows.h>
#include <string>

namespace shell {

// Shows the storage's installed key in the system's certificate dialog; nothing when it is not installed.
void ViewKey(HWND owner, const std::wstring& path);

// After the user agreed: the storage's content key leaves the key map, the storage is frozen, and the installed
// key leaves the user's store together with its private key's container. False when no key is installed or the
// user declined.
bool DeleteInstalledKey(HWND owner, const std::wstring& path);

// Asks for a key file and its password until the key is the storage's own, then attaches the file's bytes as they
// were read and checked. A wrong password, a damaged file or another storage's key each bring a warning and a
// new choice; cancelling a dialog ends the command with false. Keys imported for the check leave no container.
bool AttachKey(HWND owner, const std::wstring& path);

// After the user agreed: the attached key is removed, other storage flags kept. False when none is attached.
bool DetachKey(HWND owner, const std::wstring& path);

// Installs the attached key through the key import, from a temporary key file that is gone again when the
// command ends (and would be removed at the next restart). False when no key is attached.
bool InstallAttachedKey(HWND owner, const std::wstring& path);

// Writes the attached key to a key file the user chooses and offers to install it. A file that cannot be written
// throws its error before anything is said of success. False when no key is attached or the user cancelled.
bool ExportKey(HWND owner, const std::wstring& path);

}  // namespace shell
