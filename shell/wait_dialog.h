// The small modal window shown while a long command works on another thread: a caption, one line of text and an
// animation, and no button. The work starts from the dialog's initialisation and the dialog ends only when its
// user ends it; every message goes to the user's callback.
#pragma once
#include <windows.h>
#include <string>

namespace shell {

// (dialog, message, wParam, lParam, context) -> whether the message was handled. Must not throw.
using WaitDialogCallback = BOOL (*)(HWND, UINT, WPARAM, LPARAM, void*);

struct WaitDialogParams {
    std::wstring caption;
    std::wstring message;
    WORD animation = 0;          // AVI resource of module
    HINSTANCE module = nullptr;
    WaitDialogCallback callback = nullptr;
    void* context = nullptr;
};

// Runs the dialog modally until the callback ends it with EndDialog(window, 0). A dialog that cannot be made, or
// that is ended with another result, throws the system error of GetLastError.
void ShowWaitDialog(HWND owner, const WaitDialogParams& params);

}  // namespace shell
