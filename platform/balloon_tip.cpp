// Stands in for the edit control's balloon tip (EM_SHOWBALLOONTIP), which Wine accepts but never shows.
#include "platform/balloon_tip.h"

#include <commctrl.h>

namespace platform {

namespace {

const wchar_t kTipProperty[] = L"platform.balloon";
const UINT_PTR kSubclassId = 0x0BA1;

LRESULT CALLBACK edit_proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
    switch (message) {
    case WM_KEYDOWN: case WM_CHAR: case WM_KILLFOCUS: case WM_LBUTTONDOWN:
        hide_balloon_tip(edit);
        break;
    case WM_NCDESTROY:
        if (HWND tip = static_cast<HWND>(RemovePropW(edit, kTipProperty))) DestroyWindow(tip);
        RemoveWindowSubclass(edit, edit_proc, kSubclassId);
        break;
    }
    return DefSubclassProc(edit, message, wparam, lparam);
}

}  // namespace

void show_balloon_tip(HWND edit, const wchar_t* title, const wchar_t* text, int icon) {
    EDITBALLOONTIP balloon{sizeof(balloon), title, text, icon};
    // Where the system shows its own balloon, that one is used.
    if (SendMessageW(edit, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&balloon))) return;

    hide_balloon_tip(edit);
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, edit, nullptr,
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(edit, GWLP_HINSTANCE)), nullptr);
    if (!tip) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_IDISHWND;
    tool.hwnd = edit;
    tool.uId = reinterpret_cast<UINT_PTR>(edit);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 420);
    SendMessageW(tip, TTM_SETTITLEW, static_cast<WPARAM>(icon), reinterpret_cast<LPARAM>(title));
    RECT r;
    GetWindowRect(edit, &r);
    SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM((r.left + r.right) / 2, r.bottom));
    SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    SetPropW(edit, kTipProperty, tip);
    SetWindowSubclass(edit, edit_proc, kSubclassId, 0);
}

void hide_balloon_tip(HWND edit) {
    SendMessageW(edit, EM_HIDEBALLOONTIP, 0, 0);
    if (HWND tip = static_cast<HWND>(RemovePropW(edit, kTipProperty))) DestroyWindow(tip);
}

}  // namespace platform
