#include "wizard/wizard_page.h"

#include <commdlg.h>
#include <cwctype>

#include <tools/file_dialog.h>

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
    tools::file_choice choice;
    choice.owner = hwnd();
    choice.filter = filter.c_str();
    choice.default_extension = default_extension[0] == L'.' ? default_extension + 1 : default_extension;
    choice.flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_EXPLORER;
    choice.initial = current;
    platform::modal_scope modal(*this);
    return tools::choose_file_to_save(choice);
}
