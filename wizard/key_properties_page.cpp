#include "wizard/key_properties_page.h"

#include "platform/balloon_tip.h"
#include "wizard/password_rules.h"
#include "wizard/resource.h"

#include <commctrl.h>

namespace {

const wchar_t kCaption[] = L"Orrisafe Wizard";
const int kLineStep = 10;
const UINT_PTR kScrollFocusId = 0x5CF0;

// The fields that bring themselves into view when they gain the focus.
const int kScrollFocusFields[] = {IDC_ISSUED_TO, IDC_PASSWORD, IDC_END_DATE, IDC_EMAIL, IDC_COUNTRY,
                                  IDC_STATE, IDC_LOCALITY, IDC_STREET, IDC_ORGANIZATION, IDC_UNIT};

const wchar_t kPasswordRules[] =
    L" \nPlease, compose a password using the following rules:\n\n"
    L" - The password is at least eight characters long;\n"
    L" - The password contains characters from three of the following four categories:\n"
    L"      * Latin uppercase letters (A through Z);\n"
    L"      * Latin lowercase letters (a through z);\n"
    L"      * Base 10 digits (0 through 9);\n"
    L"      * Non-alphanumeric characters: !@#$%^&*()_+-=[]{}\"\\;:<>,./`~'.\n"
    L" - The password has no any sequence of three or more repeated charaters.\n";

// CScrollFocusEdit: a field that asks its page to scroll it into view when it gains the focus.
LRESULT CALLBACK ScrollFocusEditProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                     DWORD_PTR page) {
    if (message == WM_SETFOCUS)
        reinterpret_cast<CKeyPropertiesPage*>(page)->ScrollIntoView(window);
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, ScrollFocusEditProc, id);
    return DefSubclassProc(window, message, wparam, lparam);
}

ULONGLONG FileTimeOf(const SYSTEMTIME& time) {
    FILETIME file{};
    if (!SystemTimeToFileTime(&time, &file)) return 0;
    return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

}  // namespace

SYSTEMTIME DefaultKeyEndDate(const SYSTEMTIME& now) {
    SYSTEMTIME end = now;
    end.wYear = static_cast<WORD>(end.wYear + 10);
    // The year's own rule, not SystemTimeToFileTime: Wine converts 29 February of any year without complaint.
    bool leap = (end.wYear % 4 == 0 && end.wYear % 100 != 0) || end.wYear % 400 == 0;
    if (end.wMonth == 2 && end.wDay == 29 && !leap) end.wDay = 28;
    return end;
}

CKeyPropertiesPage::CKeyPropertiesPage()
    : CWizardPageBase(IDD_KEYPROPERTIES_PAGE, L"Step 3 - Key properties", L"Specify new key properties"),
      red_(CreateSolidBrush(RGB(255, 0, 0))),
      yellow_(CreateSolidBrush(RGB(255, 255, 0))),
      green_(CreateSolidBrush(RGB(0, 255, 0))) {}

CKeyPropertiesPage::~CKeyPropertiesPage() {
    destroy();
    DeleteObject(red_);
    DeleteObject(yellow_);
    DeleteObject(green_);
}

bool CKeyPropertiesPage::on_init_dialog() {
    RECT client;
    GetClientRect(hwnd(), &client);
    client_height_ = client.bottom - client.top;
    for (int id : kScrollFocusFields)
        SetWindowSubclass(item(id), ScrollFocusEditProc, kScrollFocusId, reinterpret_cast<DWORD_PTR>(this));
    struct Cue { int id; const wchar_t* text; };
    const Cue cues[] = {
        {IDC_ISSUED_TO, L" For example: John Smith"},
        {IDC_PASSWORD, L" Provide a strong password here"},
        {IDC_CONFIRM, L" Repeat a strong password"},
        {IDC_EMAIL, L" For example: john.smith@example.com"},
        {IDC_STATE, L" For example: WA"},
        {IDC_LOCALITY, L" For example: Seattle"},
        {IDC_STREET, L" For example: 1 Main Street"},
        {IDC_ORGANIZATION, L" For example: Example Company Ltd."},
        {IDC_UNIT, L" For example: Reception"},
    };
    for (const Cue& cue : cues) send_item(cue.id, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(cue.text));
    send_item(IDC_COUNTRY, CB_SETCURSEL, 0);
    SYSTEMTIME now;
    GetLocalTime(&now);
    SYSTEMTIME end = DefaultKeyEndDate(now);
    send_item(IDC_END_DATE, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&end));
    return false;
}

bool CKeyPropertiesPage::IsWhiteControl(int id) const {
    return (id >= 1027 && id <= 1039) || id == IDC_PASSWORD_HELP;
}

void CKeyPropertiesPage::UpdateState() {
    if (!host()) return;
    std::wstring name = TrimText(item_text(IDC_ISSUED_TO));
    std::wstring password = TrimText(item_text(IDC_PASSWORD));
    int bars = PasswordStrengthBars(password);
    show_item(IDC_BAR_1, bars >= 1);
    show_item(IDC_BAR_2, bars >= 2);
    show_item(IDC_BAR_3, bars >= 3);
    SYSTEMTIME end{}, now{};
    bool has_end = send_item(IDC_END_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&end)) == GDT_VALID;
    GetLocalTime(&now);
    host()->EnableNext(!name.empty() && !password.empty() && has_end && FileTimeOf(now) < FileTimeOf(end));
}

void CKeyPropertiesPage::OnSetActive(IWizardHost* host) {
    set_host(host);
    host->EnablePrevious(true);
    host->SetNextText(L"Next");
    UpdateState();
    RECT page;
    host->GetPageRect(&page);
    SCROLLINFO info{sizeof(info), SIF_RANGE | SIF_PAGE};
    info.nMin = 0;
    info.nMax = client_height_;
    info.nPage = static_cast<UINT>(page.bottom - page.top);
    SetScrollInfo(hwnd(), SB_VERT, &info, TRUE);
    focus_item(IDC_ISSUED_TO);
}

void CKeyPropertiesPage::ShowPasswordBalloon(bool warning) {
    if (warning)
        platform::show_balloon_tip(item(IDC_PASSWORD), L"The password is too weak.", kPasswordRules, TTI_WARNING);
    else
        platform::show_balloon_tip(item(IDC_PASSWORD), L"Password complexity", kPasswordRules, TTI_INFO);
}

bool CKeyPropertiesPage::CanLeave(bool back) {
    platform::hide_balloon_tip(item(IDC_PASSWORD));
    if (back) return true;
    std::wstring password = item_text(IDC_PASSWORD);
    if (IsWeakPassword(password)) {
        ShowPasswordBalloon(true);
        return false;
    }
    if (password == item_text(IDC_CONFIRM)) return true;
    message_box(L"The passwords you entered are different. Please, try again.", kCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void CKeyPropertiesPage::OnNext() {
    CWizardValues* values = host()->GetValues();
    values->SetText(CommonNameValue, TrimText(item_text(IDC_ISSUED_TO)));
    values->SetText(PasswordValue, item_text(IDC_PASSWORD));
    values->SetText(EmailValue, TrimText(item_text(IDC_EMAIL)));
    std::wstring country;
    LRESULT selected = send_item(IDC_COUNTRY, CB_GETCURSEL);
    if (selected > 0) {
        LRESULT length = send_item(IDC_COUNTRY, CB_GETLBTEXTLEN, selected);
        if (length > 0) {
            std::wstring text(length + 1, L'\0');
            send_item(IDC_COUNTRY, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text.data()));
            text.resize(wcslen(text.c_str()));
            country = TrimText(text);
        }
    }
    values->SetText(CountryValue, country);
    values->SetText(StateValue, TrimText(item_text(IDC_STATE)));
    values->SetText(LocalityValue, TrimText(item_text(IDC_LOCALITY)));
    values->SetText(StreetValue, TrimText(item_text(IDC_STREET)));
    values->SetText(OrganizationValue, TrimText(item_text(IDC_ORGANIZATION)));
    values->SetText(OrganizationalUnitValue, TrimText(item_text(IDC_UNIT)));
    SYSTEMTIME end{};
    send_item(IDC_END_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&end));
    values->SetDate(EndDateValue, end);
}

bool CKeyPropertiesPage::on_command(int id, int code) {
    if ((id == IDC_ISSUED_TO || id == IDC_PASSWORD) && code == EN_CHANGE) {
        UpdateState();
        return true;
    }
    return false;
}

bool CKeyPropertiesPage::on_notify(NMHDR* header, LRESULT& result) {
    if (header->idFrom == IDC_END_DATE && header->code == DTN_DATETIMECHANGE) {
        UpdateState();
        return true;
    }
    if (header->idFrom == IDC_PASSWORD_HELP && (header->code == NM_CLICK || header->code == NM_RETURN)) {
        ShowPasswordBalloon(false);
        return true;
    }
    return false;
}

void CKeyPropertiesPage::ScrollTo(int position) {
    SCROLLINFO info{sizeof(info), SIF_POS};
    GetScrollInfo(hwnd(), SB_VERT, &info);
    int old = info.nPos;
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(hwnd(), SB_VERT, &info, TRUE);
    GetScrollInfo(hwnd(), SB_VERT, &info);
    if (info.nPos != old) {
        ScrollWindowEx(hwnd(), 0, old - info.nPos, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
        UpdateWindow(hwnd());
    }
}

void CKeyPropertiesPage::ScrollIntoView(HWND control) {
    if (!(GetWindowLongW(hwnd(), GWL_STYLE) & WS_VSCROLL)) return;
    RECT r, client;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    GetClientRect(hwnd(), &client);
    SCROLLINFO info{sizeof(info), SIF_POS};
    GetScrollInfo(hwnd(), SB_VERT, &info);
    if (r.bottom > client.bottom)
        ScrollTo(info.nPos + (r.bottom - client.bottom));
    else if (r.top <= 0)
        ScrollTo(info.nPos + r.top);
}

bool CKeyPropertiesPage::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
        if (id == IDC_BAR_1 || id == IDC_BAR_2 || id == IDC_BAR_3) {
            result = reinterpret_cast<LRESULT>(id == IDC_BAR_1 ? green_ : id == IDC_BAR_2 ? yellow_ : red_);
            return true;
        }
        break;
    }
    case WM_VSCROLL: {
        SCROLLINFO info{sizeof(info), SIF_ALL};
        GetScrollInfo(hwnd(), SB_VERT, &info);
        int position = info.nPos;
        switch (LOWORD(wparam)) {
        case SB_LINEUP: position -= kLineStep; break;
        case SB_LINEDOWN: position += kLineStep; break;
        case SB_PAGEUP: position -= static_cast<int>(info.nPage); break;
        case SB_PAGEDOWN: position += static_cast<int>(info.nPage); break;
        case SB_THUMBTRACK: position = info.nTrackPos; break;
        case SB_TOP: position = info.nMin; break;
        case SB_BOTTOM: position = info.nMax; break;
        }
        ScrollTo(position);
        result = 0;
        return true;
    }
    case WM_MOUSEWHEEL:
        PostMessageW(hwnd(), WM_VSCROLL, GET_WHEEL_DELTA_WPARAM(wparam) < 0 ? SB_LINEDOWN : SB_LINEUP, 0);
        return false;
    }
    return CWizardPageBase::on_message(message, wparam, lparam, result);
}
