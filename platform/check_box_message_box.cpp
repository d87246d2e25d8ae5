// Stands in for the shell utilities' check-box message box (shlwapi ordinal 191), which under Wine answers Yes and
// No as OK and Cancel and forgets a ticked box.
#include "check_box_message_box.h"
#include "dialog_template.h"
#include "running_under_wine.h"

#include <string>
#include <vector>

namespace platform {

namespace {

const wchar_t* const answers_key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain";
constexpr WORD check_box_id = 100;

bool remembered_answer(LPCWSTR value_name, int& answer) {
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, answers_key, value_name, RRF_RT_ANY, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (type == REG_DWORD &&
        RegGetValueW(HKEY_CURRENT_USER, answers_key, value_name, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
            ERROR_SUCCESS)
        answer = static_cast<int>(value);
    return true;
}

void remember_answer(LPCWSTR value_name, int answer) {
    DWORD value = static_cast<DWORD>(answer);
    RegSetKeyValueW(HKEY_CURRENT_USER, answers_key, value_name, REG_DWORD, &value, sizeof(value));
}


struct dialog_state {
    LPCWSTR icon;
    bool ticked = false;
};

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<dialog_state*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        state = reinterpret_cast<dialog_state*>(lparam);
        if (state->icon)
            SendDlgItemMessageW(dialog, 101, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, state->icon)), 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
        case IDCANCEL:
        case IDYES:
        case IDNO:
            state->ticked = IsDlgButtonChecked(dialog, check_box_id) == BST_CHECKED;
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

LPCWSTR icon_of(UINT style) {
    switch (style & MB_ICONMASK) {
    case MB_ICONQUESTION: return IDI_QUESTION;
    case MB_ICONWARNING: return IDI_WARNING;
    case MB_ICONERROR: return IDI_ERROR;
    case MB_ICONINFORMATION: return IDI_INFORMATION;
    }
    return nullptr;
}

// Dialog units the text needs at a width of about 200 units (some 50 characters to a line).
short text_height(LPCWSTR text) {
    int lines = 0, run = 0;
    for (const wchar_t* p = text;; ++p) {
        if (*p == L'\n' || *p == 0) {
            lines += 1 + run / 50;
            run = 0;
            if (*p == 0) break;
        } else {
            ++run;
        }
    }
    return static_cast<short>(lines * 9);
}

}  // namespace

bool check_box_answer_kept(LPCWSTR value_name) {
    int answer = 0;
    return value_name && remembered_answer(value_name, answer);
}

void forget_check_box_answer(LPCWSTR value_name) {
    if (value_name) RegDeleteKeyValueW(HKEY_CURRENT_USER, answers_key, value_name);
}

check_box_message_box_function check_box_message_box(FARPROC system_export) {
    if (!system_export) return nullptr;
    if (running_under_wine()) return &message_box_check;
    return reinterpret_cast<check_box_message_box_function>(system_export);
}

check_box_message_box_function bound_check_box_message_box() {
    HMODULE shell_utilities = GetModuleHandleW(L"shlwapi.dll");
    if (!shell_utilities) return nullptr;
    return check_box_message_box(GetProcAddress(shell_utilities, MAKEINTRESOURCEA(191)));
}

int WINAPI message_box_check(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, int default_result,
                             LPCWSTR value_name) {
    int answer = default_result;
    if (value_name && remembered_answer(value_name, answer)) return answer;

    const short width = 250, text_x = 36, text_h = text_height(text ? text : L"");
    const short check_y = static_cast<short>(14 + text_h), buttons_y = static_cast<short>(check_y + 18);
    struct button {
        WORD id;
        const wchar_t* label;
    };
    std::vector<button> buttons;
    switch (style & MB_TYPEMASK) {
    case MB_YESNO: buttons = {{IDYES, L"&Yes"}, {IDNO, L"&No"}}; break;
    case MB_OKCANCEL: buttons = {{IDOK, L"OK"}, {IDCANCEL, L"Cancel"}}; break;
    default: buttons = {{IDOK, L"OK"}}; break;
    }
    dialog_template t(caption ? caption : L"", width, static_cast<short>(buttons_y + 21),
                      static_cast<WORD>(3 + buttons.size()));
    t.item(0x82, SS_ICON, 7, 7, 21, 20, 101, L"");
    t.item(0x82, SS_LEFT | SS_NOPREFIX, text_x, 7, static_cast<short>(width - text_x - 7), text_h, 0xFFFF,
           text ? text : L"");
    t.item(0x80, BS_AUTOCHECKBOX | WS_TABSTOP, text_x, check_y, static_cast<short>(width - text_x - 7), 10,
           check_box_id, L"Don't show me this message again");
    short x = static_cast<short>(width - 7 - 55 * static_cast<short>(buttons.size()) + 5);
    for (const button& b : buttons) {
        DWORD kind = (b.id == default_result) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        t.item(0x80, kind | WS_TABSTOP, x, buttons_y, 50, 14, b.id, b.label);
        x = static_cast<short>(x + 55);
    }
    dialog_state state{icon_of(style)};
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, dialog_procedure,
                                             reinterpret_cast<LPARAM>(&state));
    if (result <= 0) return -1;
    if (state.ticked && value_name && result != IDCANCEL) remember_answer(value_name, static_cast<int>(result));
    return static_cast<int>(result);
}

}  // namespace platform
