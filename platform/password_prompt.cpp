// The password prompt that our stand-ins for the certificate wizards' key-file steps show, where the system's
// wizards ask inside themselves.
#include "password_prompt.h"
#include "dialog_template.h"

#include <vector>

namespace platform {

namespace {

constexpr WORD password_edit = 100;
constexpr WORD again_edit = 101;

struct prompt_state {
    std::wstring* password;
    bool twice;
};

std::wstring edit_text(HWND dialog, WORD id) {
    HWND edit = GetDlgItem(dialog, id);
    std::vector<wchar_t> buffer(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1);
    GetWindowTextW(edit, buffer.data(), static_cast<int>(buffer.size()));
    std::wstring text(buffer.data());
    SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
    return text;
}

void wipe(std::wstring& text) {
    SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
}

// OK: whether the typed password may be taken (both boxes agree where there are two).
bool take_password(HWND dialog, const prompt_state& state) {
    std::wstring typed = edit_text(dialog, password_edit);
    if (state.twice) {
        std::wstring again = edit_text(dialog, again_edit);
        bool same = typed == again;
        wipe(again);
        if (!same) {
            wipe(typed);
            wchar_t caption[256] = L"";
            GetWindowTextW(dialog, caption, 256);
            MessageBoxW(dialog, L"The passwords do not match.", caption, MB_OK | MB_ICONWARNING);
            SetDlgItemTextW(dialog, again_edit, L"");
            SetFocus(GetDlgItem(dialog, again_edit));
            return false;
        }
    }
    state.password->swap(typed);
    wipe(typed);
    return true;
}

INT_PTR CALLBACK prompt_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        SetFocus(GetDlgItem(dialog, password_edit));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            if (take_password(dialog, *reinterpret_cast<const prompt_state*>(GetWindowLongPtrW(dialog, DWLP_USER))))
                EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool ask_password(HWND owner, const wchar_t* caption, const std::wstring& label, const wchar_t* again_label,
                  std::wstring& password) {
    const short buttons_y = again_label ? 82 : 56;
    dialog_template t(caption, 220, static_cast<short>(buttons_y + 22), again_label ? 6 : 4);
    t.item(0x82, SS_LEFT | SS_PATHELLIPSIS, 7, 7, 206, again_label ? 10 : 18, 0xFFFF, label.c_str());
    t.item(0x81, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, again_label ? 19 : 30, 206, 14,
           password_edit, L"");
    if (again_label) {
        t.item(0x82, SS_LEFT, 7, 40, 206, 10, 0xFFFF, again_label);
        t.item(0x81, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 52, 206, 14, again_edit, L"");
    }
    t.item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 109, buttons_y, 50, 14, IDOK, L"OK");
    t.item(0x80, BS_PUSHBUTTON | WS_TABSTOP, 163, buttons_y, 50, 14, IDCANCEL, L"Cancel");
    prompt_state state{&password, again_label != nullptr};
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, prompt_procedure,
                                   reinterpret_cast<LPARAM>(&state)) == IDOK;
}

}  // namespace platform
