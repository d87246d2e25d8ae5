#include "wizard/wizard_dlg.h"
#include "wizard/resource_stream.h"

#include "wizard/glass_frame.h"
#include "wizard/path_rules.h"
#include "tools/user_guide.h"
#include "wizard/resource.h"

#include <gdiplus.h>
#include <shlobj.h>
#include <windowsx.h>

namespace {

const wchar_t kCaption[] = L"Orrisafe Wizard";
const wchar_t kHeaderProperty[] = L"{66C4035E-C120-4f63-852C-626616AD0BA9}";
const UINT kCompositionChanged = 0x031E;

HFONT MakeFont(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Verdana");
}

}  // namespace

std::wstring WizardCommandLinePath(const std::vector<std::wstring>& arguments) {
    return arguments.size() >= 2 ? arguments[1] : std::wstring();
}

LRESULT CALLBACK HeaderWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto wizard = static_cast<CWizardDlg*>(GetPropW(window, kHeaderProperty));
    if (!wizard) return DefWindowProcW(window, message, wparam, lparam);
    LRESULT result = CallWindowProcW(wizard->header_proc_, window, message, wparam, lparam);
    if (message == WM_PAINT || message == WM_ERASEBKGND) {
        HDC dc = GetDC(window);
        try {
            wizard->PaintHeader(window, dc);
        } catch (...) {
            // A header that cannot be painted stays plain; the window procedure must not throw.
        }
        ReleaseDC(window, dc);
    }
    if (message == WM_NCDESTROY) RemovePropW(window, kHeaderProperty);
    return result;
}

CWizardDlg::CWizardDlg(std::wstring command_line_path)
    : dialog(IDD_WIZARD),
      title_font_(MakeFont(-16, FW_BOLD)),
      description_font_(MakeFont(-12, FW_NORMAL)),
      icon_(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      storage_page_(confirmed_),
      key_file_page_(confirmed_),
      summary_page_(confirmed_),
      command_line_path_(std::move(command_line_path)) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplus_token_, &input, nullptr);
    CDwmApi::Instance().Bind();
}

CWizardDlg::~CWizardDlg() {
    summary_page_.destroy();
    key_properties_page_.destroy();
    key_file_page_.destroy();
    storage_page_.destroy();
    if (banner_) banner_->Release();
    if (gdiplus_token_) Gdiplus::GdiplusShutdown(gdiplus_token_);
    CDwmApi::Instance().Unbind();
    DeleteObject(title_font_);
    DeleteObject(description_font_);
}

void CWizardDlg::SetNextText(const wchar_t* text) {
    set_item_text(IDC_NEXT, text);
}

void CWizardDlg::EnableCancel(bool enable) {
    enable_item(IDCANCEL, enable);
}

void CWizardDlg::EnableNext(bool enable) {
    enable_item(IDC_NEXT, enable);
}

void CWizardDlg::EnablePrevious(bool enable) {
    enable_item(IDC_PREVIOUS, enable);
}

void CWizardDlg::Cancel() {
    if (message_box(L"Are you sure you want to exit wizard?", kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES)
        end_dialog(IDCANCEL);
}

void CWizardDlg::GetPageRect(RECT* rect) {
    HWND area = item(IDC_PAGE_AREA);
    GetClientRect(area, rect);
    MapWindowPoints(area, hwnd(), reinterpret_cast<POINT*>(rect), 2);
}

void CWizardDlg::ShowStep(int step) {
    if (IWizardPage* page = Step(step)) ShowPage(page, false);
}

void CWizardDlg::Close() {
    end_dialog(IDOK);
}

IWizardPage* CWizardDlg::Step(int step) {
    switch (step) {
    case 1: return &storage_page_;
    case 2: return &key_file_page_;
    case 3: return &key_properties_page_;
    case 4: return &summary_page_;
    default: return nullptr;
    }
}

int CWizardDlg::StepOf(IWizardPage* page) const {
    for (int step = 1; step <= 4; ++step)
        if (const_cast<CWizardDlg*>(this)->Step(step) == page) return step;
    return 0;
}

void CWizardDlg::ShowPage(IWizardPage* page, bool back) {
    if (current_) {
        if (!current_->CanLeave(back)) return;
        ShowWindow(current_->GetDialog(), SW_HIDE);
        current_->OnKillActive();
    }
    current_ = page;
    RECT area;
    GetPageRect(&area);
    MoveWindow(page->GetDialog(), area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
    ShowWindow(page->GetDialog(), SW_SHOW);
    page->OnSetActive(this);
    if (!CDwmApi::Instance().IsBound()) {
        HWND header = item(IDC_HEADER);
        RedrawWindow(header, nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE);
    } else {
        RedrawWindow(hwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
        UpdateWindow(hwnd());
    }
}

void CWizardDlg::LoadBanner() {
    banner_ = ResourceStream(GetModuleHandleW(nullptr), IDB_BANNER, L"PNG").detach();
}

bool CWizardDlg::on_init_dialog() {
    if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, L"&About Orrisafe...");
    }
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    wchar_t documents[MAX_PATH];
    if (SHGetSpecialFolderPathW(hwnd(), documents, CSIDL_PERSONAL, TRUE)) SetCurrentDirectoryW(documents);

    LoadBanner();
    HWND header = item(IDC_HEADER);
    SetPropW(header, kHeaderProperty, this);
    header_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(header, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HeaderWndProc)));
    if (CDwmApi::Instance().IsCompositionEnabled()) ShowHeaderControls(false);

    storage_page_.create_child(hwnd());
    key_file_page_.create_child(hwnd());
    key_properties_page_.create_child(hwnd());
    summary_page_.create_child(hwnd());

    IWizardPage* start = &storage_page_;
    if (!command_line_path_.empty()) {
        // Checked and completed as a typed path is; one that can't be used is shown on step 1 instead.
        if (IsUsableCompletedPath(command_line_path_, L".orrisafe")) {
            values_.SetText(StoragePathValue, WithExtension(command_line_path_, L".orrisafe"));
            key_file_page_.SetStartedWithPath(true);
            start = &key_file_page_;
        } else {
            storage_page_.SetPath(command_line_path_);
        }
    }
    ShowPage(start, false);
    ShowWindow(hwnd(), SW_SHOW);
    return false;
}

bool CWizardDlg::on_command(int id, int code) {
    if (code != BN_CLICKED) return false;
    int step = StepOf(current_);
    if (id == IDC_NEXT) {
        if (!IsWindowEnabled(item(IDC_NEXT))) return true;
        current_->OnNext();
        if (step < 4 && current_ == Step(step)) ShowPage(Step(step + 1), false);
        return true;
    }
    if (id == IDC_PREVIOUS) {
        if (step > 1) ShowPage(Step(step - 1), true);
        return true;
    }
    return false;
}

void CWizardDlg::ShowHeaderControls(bool show) {
    show_item(IDC_HEADER, show);
    show_item(IDC_LINE_TOP, show);
}

void CWizardDlg::PaintHeader(HWND header, HDC dc) {
    if (!current_) return;
    RECT client;
    GetClientRect(header, &client);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, title_font_);
    const wchar_t* title = current_->GetTitle();
    TextOutW(dc, 10, 10, title, static_cast<int>(wcslen(title)));
    SelectObject(dc, description_font_);
    const wchar_t* description = current_->GetDescription();
    TextOutW(dc, 20, 40, description, static_cast<int>(wcslen(description)));
    SelectObject(dc, old);
    DrawBanner(banner_, dc, client.right - banner_width_ - 10, (client.bottom - banner_height_) / 2);
}

void CWizardDlg::PaintGlass() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd(), &ps);
    RECT client;
    GetClientRect(hwnd(), &client);
    RECT band{0, 0, client.right, kGlassHeight};
    DrawGlowText(dc, band, L"", -1);
    if (current_) {
        RECT title{10, 0, client.right, 30};
        DrawGlowText(dc, title, current_->GetTitle(), -16);
        RECT description{20, 30, client.right, 60};
        DrawGlowText(dc, description, current_->GetDescription(), -12);
    }
    DrawBanner(banner_, dc, client.right - banner_width_ - 10, 30 - banner_height_ / 2);
    RECT line;
    GetWindowRect(item(IDC_LINE_BOTTOM), &line);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&line), 2);
    HGDIOBJ pen = SelectObject(dc, GetStockObject(WHITE_PEN));
    HGDIOBJ brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, 0, kGlassHeight, client.right, line.bottom);
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    EndPaint(hwnd(), &ps);
}

bool CWizardDlg::HandleGlass(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    CDwmApi& api = CDwmApi::Instance();
    if (!api.IsCompositionEnabled()) return false;
    bool handled = api.DefWindowProc(hwnd(), message, wparam, lparam, &result) == S_OK;
    switch (message) {
    case WM_ACTIVATE: {
        MARGINS margins{0, 0, kGlassHeight, 0};
        api.ExtendFrameIntoClientArea(hwnd(), &margins);
        break;
    }
    case WM_PAINT:
        PaintGlass();
        result = 0;
        return true;
    case WM_LBUTTONDOWN:
        if (GET_Y_LPARAM(lparam) <= kGlassHeight) PostMessageW(hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, lparam);
        break;
    }
    return handled;
}

bool CWizardDlg::on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    if (HandleGlass(message, wparam, lparam, result)) return true;
    switch (message) {
    case kCompositionChanged: {
        bool composed = CDwmApi::Instance().IsCompositionEnabled();
        ShowHeaderControls(!composed);
        if (!composed) {
            MARGINS none{0, 0, 0, 0};
            CDwmApi::Instance().ExtendFrameIntoClientArea(hwnd(), &none);
        }
        RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        return false;
    }
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == IDM_ABOUTBOX || (wparam >= IDM_ABOUTBOX && wparam <= 31)) {
            tools::open_user_guide(kCaption, hwnd(), nullptr);
            result = 0;
            return true;
        }
        return false;
    case WM_HELP:
        tools::open_user_guide(kCaption, hwnd(), nullptr);
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
        // The header and the area above the buttons are white.
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) == IDC_HEADER) {
            SetBkColor(reinterpret_cast<HDC>(wparam), RGB(255, 255, 255));
            result = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
            return true;
        }
        return false;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon_);
        return true;
    case WM_PAINT: {
        if (IsIconic(hwnd())) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd(), &ps);
            SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
            RECT client;
            GetClientRect(hwnd(), &client);
            int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
            DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, icon_);
            EndPaint(hwnd(), &ps);
            result = 0;
            return true;
        }
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd(), &ps);
        RECT client, line;
        GetClientRect(hwnd(), &client);
        GetWindowRect(item(IDC_LINE_BOTTOM), &line);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&line), 2);
        HGDIOBJ pen = SelectObject(dc, GetStockObject(WHITE_PEN));
        HGDIOBJ brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, 0, 0, client.right, line.top);
        SelectObject(dc, pen);
        SelectObject(dc, brush);
        EndPaint(hwnd(), &ps);
        result = 0;
        return true;
    }
    }
    return false;
}
