// Finds this process's top-level windows by caption and answers them, from a thread other than theirs.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

namespace shell_testing {

// The first visible top-level window of this process with that caption that also passes the test; waits up to
// timeout_ms, null when none came.
HWND WaitForWindow(const std::wstring& caption, const std::function<bool(HWND)>& test = {}, DWORD timeout_ms = 15000);
// Waits until the window is gone; false when it stayed.
bool WaitUntilGone(HWND window, DWORD timeout_ms = 15000);
// A message box's text.
std::wstring BoxText(HWND box);
// Presses a button of a dialog or message box as a click would.
void Press(HWND dialog, int id);

}  // namespace shell_testing
