// The progress window of the shell's long operations (transfers, deletion, integrity check): an animation, two
// status lines, a bar and Cancel. The window runs its own modal dialog on a thread of its own, so the operation
// runs on its caller's thread and only reports to it; every change to a control is carried to the window's thread.
// Two looks share one interface: the modern window (template 101) on Windows 6 and later, the classic one
// (template 108) on Windows 5.
#pragma once
#include <windows.h>
#include <memory>
#include <string>

#include <tools/auto_handle.h>

namespace shell {

// Called on the window's thread when the user closes or cancels the window.
class IProgressCancelListener {
public:
    virtual void OnCancel() noexcept = 0;

protected:
    ~IProgressCancelListener() = default;
};

// What a progress window shows; copied into the window.
struct progress_text_record {
    HINSTANCE module = nullptr;  // holds the templates and the animations
    DWORD kind = 0;              // 0-3 transfers, 4-5 deletion, 6-7 integrity check (and renaming)
    DWORD cancel_disabled = 0;   // Cancel starts disabled
    tools::auto_icon icon;       // big and small icon of the window, none when empty
    HWND owner = nullptr;        // brought to the foreground when the window closes
    IProgressCancelListener* cancel_listener = nullptr;
    // Caption, first and second status line, banner text (the modern window only).
    std::wstring texts[4];
};

// Texts are copied in; each setter also shows the change when the window stands.
class IProgressWindow {
public:
    virtual ~IProgressWindow() = default;
    virtual void Cancel() = 0;  // disables Cancel and marks the window cancelled
    virtual bool IsCancelled() = 0;
    virtual UINT GetTemplateId() = 0;
    virtual void SetText1(const std::wstring& text) = 0;
    virtual std::wstring GetText1() = 0;
    virtual void SetText2(const std::wstring& text) = 0;
    virtual void SetText3(const std::wstring& text) = 0;
    virtual std::wstring GetText2() = 0;
    virtual std::wstring GetText3() = 0;
    virtual void SetText4(const std::wstring& text) = 0;
    virtual std::wstring GetText4() = 0;
    virtual void SetRange(ULONGLONG lower, ULONGLONG upper) = 0;
    virtual void GetRange(ULONGLONG& lower, ULONGLONG& upper) = 0;
    // The bar shows position / (upper - lower) in percent, 0 for an empty range, kept within 0 to 100.
    virtual void SetPos(ULONGLONG position) = 0;
    virtual ULONGLONG GetPos() = 0;
    virtual void DisableCancel() = 0;
    // The window's own preparation on its thread (the control message it understands); false: no window.
    virtual bool Prepare() = 0;
    virtual bool OnInitDialog(HWND dialog) = 0;
    // The dialog's messages after the common ones; true when handled, with the result.
    virtual bool HandleMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) = 0;
};

// The running window: made by RunProgressWindow, the window exists when it returns; its destruction closes the
// window (it stays about a second with Cancel disabled) and waits for its thread.
class CProgressController {
public:
    CProgressController(std::unique_ptr<IProgressWindow> window, const progress_text_record& parameters);
    ~CProgressController();
    CProgressController(const CProgressController&) = delete;
    CProgressController& operator=(const CProgressController&) = delete;

    IProgressWindow& Window() noexcept { return *window_; }
    // The dialog while it stands, else null.
    HWND Dialog() const noexcept { return dialog_; }

    // Starts the window's thread and waits until the window stands or could not be made.
    void Start();

private:
    friend struct progress_thread_access;
    std::unique_ptr<IProgressWindow> window_;
    progress_text_record parameters_;
    tools::auto_kernel_handle started_;
    tools::auto_kernel_handle thread_;
    volatile HWND dialog_ = nullptr;
};

// Shows the window for this Windows version: the modern one from major version 6 on, the classic one on 5; earlier
// versions have neither and raise win_except(ERROR_OLD_WIN_VERSION). Failing system calls raise their error.
std::unique_ptr<CProgressController> RunProgressWindow(const progress_text_record& parameters);
// The same with the look chosen by the caller (a test shows both).
std::unique_ptr<CProgressController> RunProgressWindow(const progress_text_record& parameters, bool modern);

// position + delta.
void AdvanceProgress(IProgressWindow& window, ULONGLONG delta);

// The module's icon 1, the icon of the shell's windows; empty when the module has none.
tools::auto_icon ProductIcon(HINSTANCE module);

// The parameters of a window of the shell's own module, with its icon: the kind, owner, caption and banner.
progress_text_record ShellProgress(DWORD kind, HWND owner, const std::wstring& caption, const std::wstring& banner = L"");

inline constexpr UINT modern_progress_template = 101;
inline constexpr UINT classic_progress_template = 108;

}  // namespace shell
