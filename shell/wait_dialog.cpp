#include "wait_dialog.h"

#include <commctrl.h>

#include <platform/dialog_framework.h>
#include <tools/hresult.h>
#include <tools/win_except.h>
#include "message_boxes.h"
#include "progress_window_resources.h"
#include "storage_commands_resources.h"

namespace shell {

namespace {

const WaitDialogParams* ParamsOf(HWND dialog) {
    return reinterpret_cast<const WaitDialogParams*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

void Initialise(HWND dialog, const WaitDialogParams& params) {
    // A shared icon: the system frees it with the module.
    HICON icon = LoadIconW(platform::this_module(), MAKEINTRESOURCEW(IDI_PRODUCT));
    if (icon) {
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
    SetWindowTextW(dialog, params.caption.c_str());
    HWND animation = GetDlgItem(dialog, IDC_WAIT_ANIMATION);
    SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(params.module),
                 reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(params.animation)));
    // From the first frame to the last, for ever.
    SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
    SetDlgItemTextW(dialog, IDC_WAIT_TEXT, params.message.c_str());
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&params));
    params.callback(dialog, WM_INITDIALOG, 0, 0, params.context);
}

INT_PTR CALLBACK WaitDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        if (message == WM_INITDIALOG) {
            Initialise(dialog, *reinterpret_cast<const WaitDialogParams*>(lparam));
            return TRUE;
        }
        const WaitDialogParams* params = ParamsOf(dialog);
        return params ? params->callback(dialog, message, wparam, lparam, params->context) : FALSE;
    } catch (...) {
        // Nothing may cross the system's frames. The dialog has no other way out: it ends with the error shown.
        ShowErrorBox(dialog, static_cast<DWORD>(tools::current_exception_hresult()));
        EndDialog(dialog, 0);
        return TRUE;
    }
}

}  // namespace

void ShowWaitDialog(HWND owner, const WaitDialogParams& params) {
    SetLastError(ERROR_SUCCESS);
    INT_PTR result = DialogBoxParamW(platform::this_module(), MAKEINTRESOURCEW(IDD_WAIT), BoxOwner(owner),
                                     WaitDialogProc, reinterpret_cast<LPARAM>(&params));
    if (result != 0) tools::throw_last_error();
}

}  // namespace shell
