#include "progress_window.h"

#include <commctrl.h>
#include <process.h>
#include <algorithm>
#include <cmath>

#include <platform/dialog_framework.h>
#include <tools/critical_section.h>
#include <tools/hresult.h>
#include <tools/win_except.h>
#include "message_boxes.h"
#include "message_serving_wait.h"
#include "progress_window_resources.h"

namespace shell {

namespace {

// Window properties and registered messages; their names are fixed.
const wchar_t controller_property[] = L"{C2721964-6EBD-4e19-95DA-2FA18CDF8BC5}";
const wchar_t banner_property[] = L"{29F1DE07-4ED8-4d38-AA95-50D8DF366698}";
const wchar_t control_message_name[] = L"{2498ECF0-8F48-4bb4-939C-3939B6CCF357}";
const wchar_t close_request_name[] = L"{658301B6-F191-4153-9E98-A09F3B167F6C}";
constexpr UINT_PTR close_timer = 16;
constexpr UINT close_delay_ms = 1000;

UINT close_request_message() {
    static const UINT message = RegisterWindowMessageW(close_request_name);
    return message;
}

// One change to a control, carried to the dialog's thread.
struct control_change {
    HWND target;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

// The animation of each kind of operation, for the modern and the classic window.
UINT animation_of(DWORD kind, bool modern) {
    switch (kind) {
    case 0:
    case 2: return modern ? IDR_AVI_COPY_BANNER : IDR_AVI_COPY_SMALL;
    case 1:
    case 3: return modern ? IDR_AVI_MOVE_BANNER : IDR_AVI_MOVE_SMALL;
    case 4:
    case 5: return modern ? IDR_AVI_DELETE_BANNER : IDR_AVI_DELETE_SMALL;
    default: return modern ? IDR_AVI_CHECK_BANNER : IDR_AVI_CHECK_SMALL;
    }
}

// What both looks share: the parameters, the texts (written by the operation's thread, read by the window's, so
// each side takes a copy under the lock), the range and position, the cancelled flag.
class CProgressWindow : public IProgressWindow {
public:
    CProgressWindow(const progress_text_record& parameters, bool modern)
        : parameters_(parameters), modern_(modern) {}

    void Cancel() override {
        DisableCancel();
        InterlockedExchange(&cancelled_, 1);
    }
    bool IsCancelled() override { return InterlockedCompareExchange(&cancelled_, 0, 0) != 0; }
    UINT GetTemplateId() override { return modern_ ? modern_progress_template : classic_progress_template; }

    void SetText1(const std::wstring& text) override {
        Store(0, text);
        Change(dialog_, WM_SETTEXT, 0, text);
    }
    std::wstring GetText1() override { return Text(0); }
    void SetText2(const std::wstring& text) override {
        Store(1, text);
        ShowStatusLines();
    }
    void SetText3(const std::wstring& text) override {
        Store(2, text);
        ShowStatusLines();
    }
    std::wstring GetText2() override { return Text(1); }
    std::wstring GetText3() override { return Text(2); }
    void SetText4(const std::wstring&) override {}
    std::wstring GetText4() override { return Text(3); }

    void SetRange(ULONGLONG lower, ULONGLONG upper) override {
        tools::scoped_lock hold(lock_);
        lower_ = lower;
        upper_ = upper;
    }
    void GetRange(ULONGLONG& lower, ULONGLONG& upper) override {
        tools::scoped_lock hold(lock_);
        lower = lower_;
        upper = upper_;
    }
    void SetPos(ULONGLONG position) override {
        ULONGLONG lower, upper;
        {
            tools::scoped_lock hold(lock_);
            position_ = position;
            lower = lower_;
            upper = upper_;
        }
        // The lower bound is not subtracted: the bar shows position / (upper - lower).
        double percent = upper > lower ? static_cast<double>(position) / (static_cast<double>(upper - lower) / 100.0) : 0.0;
        percent = std::clamp(percent, 0.0, 100.0);
        Send(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
    ULONGLONG GetPos() override {
        tools::scoped_lock hold(lock_);
        return position_;
    }
    // (WM_ENABLE stands for EnableWindow in a control change.)
    void DisableCancel() override { Send(cancel_, WM_ENABLE, FALSE, 0); }

    bool Prepare() override {
        control_message_ = RegisterWindowMessageW(control_message_name);
        return control_message_ != 0;
    }

    bool OnInitDialog(HWND dialog) override {
        dialog_ = dialog;
        bar_ = GetDlgItem(dialog, IDC_PROGRESS_BAR);
        cancel_ = GetDlgItem(dialog, IDCANCEL);
        animation_ = GetDlgItem(dialog, IDC_PROGRESS_ANIMATION);
        first_line_ = GetDlgItem(dialog, modern_ ? IDC_PROGRESS_MODERN_LINE1 : IDC_PROGRESS_CLASSIC_LINE1);
        second_line_ = GetDlgItem(dialog, modern_ ? IDC_PROGRESS_MODERN_LINE2 : IDC_PROGRESS_CLASSIC_LINE2);
        SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        if (parameters_.cancel_disabled) EnableWindow(cancel_, FALSE);
        const UINT clip = animation_of(parameters_.kind, modern_);
        if (!SendMessageW(animation_, ACM_OPENW, reinterpret_cast<WPARAM>(parameters_.module),
                          reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(clip))))
            return false;
        SendMessageW(animation_, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1));
        SetWindowTextW(dialog, Text(0).c_str());
        if (!Text(1).empty()) ShowStatusLines();
        return true;
    }

    bool HandleMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override {
        if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL && HIWORD(wparam) == BN_CLICKED) {
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            result = TRUE;
            return true;
        }
        if (message == control_message_ && control_message_) {
            const auto* change = reinterpret_cast<const control_change*>(lparam);
            const LRESULT answer = change->message == WM_ENABLE
                                       ? EnableWindow(change->target, static_cast<BOOL>(change->wparam))
                                       : SendMessageW(change->target, change->message, change->wparam, change->lparam);
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, answer);
            result = TRUE;
            return true;
        }
        if (message == WM_NCDESTROY) dialog_ = nullptr;
        return false;
    }

protected:
    void Store(int which, const std::wstring& text) {
        tools::scoped_lock hold(lock_);
        parameters_.texts[which] = text;
    }
    std::wstring Text(int which) {
        tools::scoped_lock hold(lock_);
        return parameters_.texts[which];
    }
    // A change to a control, made on the dialog's thread; nothing while the window does not stand.
    LRESULT Send(HWND target, UINT message, WPARAM wparam, LPARAM lparam) {
        HWND dialog = dialog_;
        if (!dialog || !target || !control_message_) return 0;
        control_change change{target, message, wparam, lparam};
        return SendMessageW(dialog, control_message_, 0, reinterpret_cast<LPARAM>(&change));
    }
    void Change(HWND target, UINT message, WPARAM wparam, const std::wstring& text) {
        Send(target, message, wparam, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void ShowStatusLines() {
        Change(first_line_, WM_SETTEXT, 0, Text(1));
        Change(second_line_, WM_SETTEXT, 0, Text(2));
    }

    progress_text_record parameters_;
    const bool modern_;
    tools::critical_section lock_;
    volatile LONG cancelled_ = 0;
    ULONGLONG lower_ = 0, upper_ = 0, position_ = 0;
    UINT control_message_ = 0;
    volatile HWND dialog_ = nullptr;
    HWND bar_ = nullptr, cancel_ = nullptr, animation_ = nullptr, first_line_ = nullptr, second_line_ = nullptr;
};

class CModernProgressWindow final : public CProgressWindow {
public:
    explicit CModernProgressWindow(const progress_text_record& parameters) : CProgressWindow(parameters, true) {}
    ~CModernProgressWindow() override {
        if (font_) DeleteObject(font_);
    }

    void SetText4(const std::wstring& text) override {
        Store(3, text);
        Send(animation_, WM_PAINT_BANNER, 0, 0);
    }

    bool OnInitDialog(HWND dialog) override {
        font_ = CreateFontW(-18, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Segoe UI");
        if (!font_ || !CProgressWindow::OnInitDialog(dialog)) return false;
        SetPropW(animation_, banner_property, this);
        previous_proc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(animation_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&banner_proc)));
        InvalidateRect(animation_, nullptr, TRUE);
        return true;
    }

    bool HandleMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override {
        if (message == WM_CTLCOLORSTATIC) {
            result = reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
            return true;
        }
        return CProgressWindow::HandleMessage(dialog, message, wparam, lparam, result);
    }

private:
    // Asks the subclassed animation to draw the banner again.
    static constexpr UINT WM_PAINT_BANNER = WM_APP + 1;

    // The animation draws its frame, then the banner text is drawn over it.
    static LRESULT CALLBACK banner_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = static_cast<CModernProgressWindow*>(GetPropW(control, banner_property));
        if (!self) return DefWindowProcW(control, message, wparam, lparam);
        const WNDPROC previous = self->previous_proc_;
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            RemovePropW(control, banner_property);
            return CallWindowProcW(previous, control, message, wparam, lparam);
        }
        if (message == WM_PAINT_BANNER) {
            InvalidateRect(control, nullptr, TRUE);
            return 0;
        }
        LRESULT result = CallWindowProcW(previous, control, message, wparam, lparam);
        try {
            const std::wstring text = self->Text(3);
            if (message == WM_TIMER || message == WM_PAINT || (message == WM_ERASEBKGND && !text.empty()))
                self->DrawBanner(control, text);
        } catch (...) {
            // A banner that cannot be drawn is left out.
        }
        return result;
    }

    void DrawBanner(HWND control, const std::wstring& text) {
        if (text.empty()) return;
        HDC dc = GetDC(control);
        if (!dc) return;
        RECT area;
        GetClientRect(control, &area);
        area.left = 30;
        area.right -= 10;
        HGDIOBJ old_font = SelectObject(dc, font_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(224, 255, 255));
        std::wstring shown = text;
        DrawTextW(dc, shown.data(), -1, &area, DT_VCENTER | DT_SINGLELINE | DT_WORD_ELLIPSIS | DT_END_ELLIPSIS);
        SelectObject(dc, old_font);
        ReleaseDC(control, dc);
    }

    HFONT font_ = nullptr;
    WNDPROC previous_proc_ = nullptr;
};

class CClassicProgressWindow final : public CProgressWindow {
public:
    explicit CClassicProgressWindow(const progress_text_record& parameters) : CProgressWindow(parameters, false) {}

    bool HandleMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override {
        if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lparam) == animation_) {
            SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_BTNFACE));
            result = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
            return true;
        }
        return CProgressWindow::HandleMessage(dialog, message, wparam, lparam, result);
    }
};

}  // namespace

// The dialog procedure and the window's thread see the controller's inside through this.
struct progress_thread_access {
    static void SetDialog(CProgressController& controller, HWND dialog) { controller.dialog_ = dialog; }
    static HANDLE Started(CProgressController& controller) { return controller.started_.get(); }
    static const progress_text_record& Parameters(CProgressController& controller) { return controller.parameters_; }
};

namespace {

INT_PTR close_soon(HWND dialog, IProgressWindow& window) {
    window.DisableCancel();
    SetTimer(dialog, close_timer, close_delay_ms, nullptr);
    return TRUE;
}

INT_PTR dialog_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* controller = reinterpret_cast<CProgressController*>(lparam);
        const progress_text_record& parameters = progress_thread_access::Parameters(*controller);
        SetPropW(dialog, controller_property, controller);
        progress_thread_access::SetDialog(*controller, dialog);
        if (parameters.icon) {
            SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(parameters.icon.get()));
            SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(parameters.icon.get()));
        }
        IProgressWindow& window = controller->Window();
        INT_PTR result = TRUE;
        if (window.OnInitDialog(dialog))
            window.HandleMessage(dialog, message, wparam, lparam, result);
        else
            EndDialog(dialog, -1);
        SetEvent(progress_thread_access::Started(*controller));
        return result;
    }
    auto* controller = static_cast<CProgressController*>(GetPropW(dialog, controller_property));
    if (!controller) return FALSE;
    IProgressWindow& window = controller->Window();
    if (message == WM_CLOSE) {
        if (auto* listener = progress_thread_access::Parameters(*controller).cancel_listener) listener->OnCancel();
        window.Cancel();
        return close_soon(dialog, window);
    }
    if (message == close_request_message()) return close_soon(dialog, window);
    if (message == WM_TIMER && wparam == close_timer) {
        KillTimer(dialog, close_timer);
        EndDialog(dialog, IDOK);
        if (HWND owner = progress_thread_access::Parameters(*controller).owner) SetForegroundWindow(owner);
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        RemovePropW(dialog, controller_property);
        progress_thread_access::SetDialog(*controller, nullptr);
    }
    INT_PTR result = FALSE;
    return window.HandleMessage(dialog, message, wparam, lparam, result) ? result : FALSE;
}

// No exception leaves the window's procedure or its thread.
INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        return dialog_message(dialog, message, wparam, lparam);
    } catch (...) {
        ShowErrorBox(nullptr, static_cast<DWORD>(tools::current_exception_hresult()));
        return FALSE;
    }
}

unsigned __stdcall progress_thread(void* argument) {
    auto* controller = static_cast<CProgressController*>(argument);
    try {
        IProgressWindow& window = controller->Window();
        if (window.Prepare())
            DialogBoxParamW(progress_thread_access::Parameters(*controller).module,
                            MAKEINTRESOURCEW(window.GetTemplateId()), nullptr, &progress_dialog_proc,
                            reinterpret_cast<LPARAM>(controller));
    } catch (...) {
        ShowErrorBox(nullptr, static_cast<DWORD>(tools::current_exception_hresult()));
    }
    progress_thread_access::SetDialog(*controller, nullptr);
    // The starter waits for this whatever became of the window.
    SetEvent(progress_thread_access::Started(*controller));
    return 0;
}

}  // namespace

CProgressController::CProgressController(std::unique_ptr<IProgressWindow> window, const progress_text_record& parameters)
    : window_(std::move(window)), parameters_(parameters) {}

void CProgressController::Start() {
    started_.take_over(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!started_) tools::throw_last_error();
    uintptr_t thread = _beginthreadex(nullptr, 0, &progress_thread, this, 0, nullptr);
    if (!thread) tools::throw_last_error();
    thread_.take_over(reinterpret_cast<HANDLE>(thread));
    HANDLE waits[] = {started_.get()};
    WaitServingMessages(waits, 1, INFINITE);
}

CProgressController::~CProgressController() {
    if (!thread_) return;
    try {
        if (HWND dialog = dialog_) SendMessageW(dialog, close_request_message(), 0, 0);
        // The window's thread may send to this one (its owner window comes to the foreground) while it ends.
        HANDLE waits[] = {thread_.get()};
        WaitServingMessages(waits, 1, INFINITE);
    } catch (...) {
        WaitForSingleObject(thread_.get(), INFINITE);
    }
}

std::unique_ptr<CProgressController> RunProgressWindow(const progress_text_record& parameters, bool modern) {
    if (!close_request_message()) tools::throw_last_error();
    std::unique_ptr<IProgressWindow> window;
    if (modern)
        window = std::make_unique<CModernProgressWindow>(parameters);
    else
        window = std::make_unique<CClassicProgressWindow>(parameters);
    auto controller = std::make_unique<CProgressController>(std::move(window), parameters);
    controller->Start();
    return controller;
}

std::unique_ptr<CProgressController> RunProgressWindow(const progress_text_record& parameters) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version)) tools::throw_last_error();
    if (version.dwMajorVersion < 5) throw tools::win_except(ERROR_OLD_WIN_VERSION);
    return RunProgressWindow(parameters, version.dwMajorVersion >= 6);
}

void AdvanceProgress(IProgressWindow& window, ULONGLONG delta) { window.SetPos(window.GetPos() + delta); }

tools::auto_icon ProductIcon(HINSTANCE module) {
    return tools::auto_icon(static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(IDI_PRODUCT), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR | LR_DEFAULTSIZE)));
}

progress_text_record ShellProgress(DWORD kind, HWND owner, const std::wstring& caption, const std::wstring& banner) {
    progress_text_record parameters;
    parameters.module = platform::this_module();
    parameters.kind = kind;
    parameters.icon = ProductIcon(parameters.module);
    parameters.owner = owner;
    parameters.texts[0] = caption;
    parameters.texts[3] = banner;
    return parameters;
}

}  // namespace shell
