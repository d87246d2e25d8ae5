// The shell extension's message boxes: the error box of every command, and the question with a check box against
// asking again. Their caption is the product's name.
#pragma once
#include <windows.h>
#include <string>

namespace shell {

inline constexpr wchar_t box_caption[] = L"Orrisafe";

// A box's owner window must belong to the calling thread: a box owned by another thread's window disables it
// with a message sent to that thread, and hangs both threads when that thread waits without serving messages.
// A foreign owner becomes no owner.
HWND BoxOwner(HWND owner) noexcept;

// heading + "\n\n" + the system's text for the code (an HRESULT is passed as it is), or without a heading
// "An error has occured:\n\n" + that text; MB_ICONERROR. One box of this kind stands at a time in the process.
void ShowErrorBox(HWND owner, DWORD code, const wchar_t* heading = nullptr) noexcept;

// The text of an error box, as ShowErrorBox shows it.
std::wstring ErrorBoxText(DWORD code, const wchar_t* heading);

// A yes/no question (default yes) with a "don't ask again" check box whose answer the system remembers under
// value_name. IDYES or IDNO, or -1 without a box where the shell utilities have no such box.
int ShowMessageBoxCheck(HWND owner, const wchar_t* text, const wchar_t* caption, const wchar_t* value_name) noexcept;

}  // namespace shell
