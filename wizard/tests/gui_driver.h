// Drives the real orricreate.exe inside a Wine virtual desktop: finds its windows, types, clicks, takes pictures.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

class CWizardDriver {
public:
    // Starts orricreate.exe with the given arguments on a virtual desktop of its own; call from the driving thread.
    explicit CWizardDriver(const std::wstring& arguments);
    ~CWizardDriver();

    bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms = 15000);
    // The wizard dialog (the top-level window with the Next button), or null.
    HWND Wizard();
    // A message box or question of the wizard (a dialog other than the wizard), or null.
    HWND Question();
    // The visible control with this id anywhere in the wizard.
    HWND Control(int id);
    std::wstring Text(HWND window);
    std::wstring Text(int id) { return Text(Control(id)); }
    void Type(int id, const std::wstring& text);
    void Click(int id);
    void ClickIn(HWND dialog, int id);
    bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Visible(int id) { return Control(id) != nullptr; }
    // A picture of the whole screen as <build>/wizard-shots/<name>.png; false when none came.
    bool Shot(const std::string& name);
    // Whether the wizard process has ended, and its exit code.
    bool Ended(DWORD timeout_ms, DWORD* code = nullptr);

private:
    void EnumWizardDesktop(WNDENUMPROC callback, void* context);
    HANDLE explorer_ = nullptr;
    HANDLE wizard_process_ = nullptr;
    std::wstring desktop_name_;
};

// A Windows path for a Unix path of the host (through drive Z:).
std::wstring WindowsPathOf(const std::wstring& unix_path);
