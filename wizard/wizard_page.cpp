#include "wizard/wizard_page.h"

#include <commdlg.h>
#include <cwctype>

std::wstring CConfirmedPaths::Key(const std::wstring& path) {
    wchar_t full[MAX_PATH * 2];
    std::wstring key = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr) ? full : path;
    for (auto& c : key) c = static_cast<wchar_t>(std::towlower(c));
    return key;
}

void CWizardPageBase::on_cancel() {
    if (host_) host_->Cancel();
}

void CWizardPageBase::on_ok() {
    // Enter reaches the wizard's default button through the top-level dialog; a page ends nothing itself.
}

bool CWizardPageBase::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    switch (message) {
    case WM_CTLCOLORDLG:
        result = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
        if (!IsWhiteControl(id)) return false;
        SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 255, 255));
        result = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        return true;
    }
    }
    return false;
}

std::wstring CWizardPageBase::BrowseForSave(const std::wstring& current, const wchar_t* default_extension,
                                            const wchar_t* filter_with_bars) {
    std::wstring filter = filter_with_bars;
    for (auto& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    wchar_t file[MAX_PATH] = L"";
    if (current.size() < MAX_PATH) wcscpy(file, current.c_str());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd();
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = default_extension[0] == L'.' ? default_extension + 1 : default_extension;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_EXPLORER;
    platform::modal_scope modal(*this);
    if (!GetSaveFileNameW(&ofn)) return std::wstring();
    return file;
}
