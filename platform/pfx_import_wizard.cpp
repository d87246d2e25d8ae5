// Stands in for the PKCS#12 part of CryptUIWizImport, which Wine 8 lacks: its wizard refuses every .pfx file.
#include "pfx_import_wizard.h"

#include <shlwapi.h>
#include <vector>

namespace platform {

namespace {

constexpr WORD password_edit = 100;

// A dialog template built in memory: a static library carries no resources.
class dialog_template {
public:
    dialog_template(const wchar_t* caption, short cx, short cy, WORD items) {
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cdit = items;
        t.cx = cx;
        t.cy = cy;
        append(&t, sizeof(t));
        word(0);  // no menu
        word(0);  // standard class
        text(caption);
        word(8);
        text(L"MS Shell Dlg");
    }
    // Classes by atom: 0x80 button, 0x81 edit, 0x82 static.
    void item(WORD atom, DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* title) {
        while (bytes_.size() % 4) bytes_.push_back(0);
        DLGITEMTEMPLATE i{};
        i.style = style | WS_CHILD | WS_VISIBLE;
        i.x = x;
        i.y = y;
        i.cx = cx;
        i.cy = cy;
        i.id = id;
        append(&i, sizeof(i));
        word(0xFFFF);
        word(atom);
        text(title);
        word(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    void append(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void word(WORD w) { append(&w, sizeof(w)); }
    void text(const wchar_t* s) { append(s, (wcslen(s) + 1) * sizeof(wchar_t)); }
    std::vector<BYTE> bytes_;
};

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
