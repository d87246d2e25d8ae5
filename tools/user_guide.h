// Opening the user guide beside a module, with the texts for ShellExecute's failures.
#pragma once
#include <windows.h>
#include <string>

namespace tools {

// Whether a ShellExecute result is an error (32 or less); if so, text receives its description.
bool shell_execute_error_text(INT_PTR code, std::wstring& text);

// Opens "orrisafe-guide.pdf" from the module's folder (null: the program's); failures are told in
// a message box owned by owner with that caption, never thrown.
void open_user_guide(const wchar_t* caption, HWND owner, HMODULE module);

}  // namespace tools
