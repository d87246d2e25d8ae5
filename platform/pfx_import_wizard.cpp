// Stands in for the PKCS#12 part of CryptUIWizImport, which Wine 8 lacks: its wizard refuses every .pfx file.
#include "pfx_import_wizard.h"
#include "dialog_template.h"

#include <shlwapi.h>
#include <vector>

namespace platform {

namespace {

constexpr WORD password_edit = 100;


INT_PTR CALLBACK password_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        SetFocus(GetDlgItem(dialog, password_edit));
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            auto* password = reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER));
            HWND edit = GetDlgItem(dialog, password_edit);
            std::vector<wchar_t> buffer(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1);
            GetWindowTextW(edit, buffer.data(), static_cast<int>(buffer.size()));
            password->assign(buffer.data());
            SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
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

bool import_wizard_reads_pfx() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}

bool ask_key_file_password(HWND owner, const wchar_t* title, const wchar_t* key_file, std::wstring& password) {
    std::wstring prompt = L"Type the password of the private key in " + std::wstring(PathFindFileNameW(key_file)) + L":";
    dialog_template t(title && *title ? title : L"Certificate Import Wizard", 220, 78, 4);
    t.item(0x82, SS_LEFT | SS_PATHELLIPSIS, 7, 7, 206, 18, 0xFFFF, prompt.c_str());
    t.item(0x81, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 30, 206, 14, password_edit, L"");
    t.item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 109, 56, 50, 14, IDOK, L"OK");
    t.item(0x80, BS_PUSHBUTTON | WS_TABSTOP, 163, 56, 50, 14, IDCANCEL, L"Cancel");
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, password_dialog,
                                             reinterpret_cast<LPARAM>(&password));
    return result == IDOK;
}

}  // namespace platform
