#include "gui_driver.h"

#include "tools/tests/test_support.h"
#include "tools/text.h"

#include <cstdio>
#include <vector>

namespace {

// IsWindowVisible judges from the caller's desktop, where the wizard's desktop window is not shown:
// the style bits of the window and its ancestors are what counts.
bool Shown(HWND window) {
    for (HWND w = window; w; w = GetAncestor(w, GA_PARENT)) {
        if (!(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE)) return false;
        if (!(GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) break;
    }
    return true;
}

struct Search {
    int id;
    HWND found;
};

BOOL CALLBACK FindVisibleControl(HWND window, LPARAM context) {
    auto search = reinterpret_cast<Search*>(context);
    if (GetDlgCtrlID(window) == search->id && Shown(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct TopSearch {
    bool wizard;
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindTop(HWND window, LPARAM context) {
    auto search = reinterpret_cast<TopSearch*>(context);
    if (!Shown(window)) return TRUE;
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    bool is_wizard = GetDlgItem(window, 1000) != nullptr && GetDlgItem(window, 1002) != nullptr;
    if (is_wizard == search->wizard) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring WindowsPathOf(const std::wstring& unix_path) {
    return testing::windows_path_of(unix_path);
}

CWizardDriver::CWizardDriver(const std::wstring& arguments) {
    desktop_name_ = L"orriwiz" + std::to_wstring(GetCurrentProcessId());
    std::wstring program = WindowsPathOf(testing::env(L"ORRI_DIST_DIR")) + L"\\orricreate.exe";
    std::wstring command = L"explorer.exe /desktop=" + desktop_name_ + L",1024x768 \"" + program + L"\" " + arguments;
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        explorer_ = pi.hProcess;
        CloseHandle(pi.hThread);
    } else {
        fprintf(stderr, "driver: cannot start %ls: %lu\n", command.c_str(), GetLastError());
    }
    WaitFor([&] { return Wizard() != nullptr; }, 30000);
    if (HWND wizard = Wizard()) {
        DWORD process = 0;
        GetWindowThreadProcessId(wizard, &process);
        wizard_process_ = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, process);
    }
}

CWizardDriver::~CWizardDriver() {
    // Whatever is still open is closed without asking.
    if (wizard_process_) {
        if (WaitForSingleObject(wizard_process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(wizard_process_, 99);
            WaitForSingleObject(wizard_process_, 5000);
        }
        CloseHandle(wizard_process_);
    }
    if (explorer_) {
        if (WaitForSingleObject(explorer_, 5000) != WAIT_OBJECT_0) TerminateProcess(explorer_, 0);
        CloseHandle(explorer_);
    }
}

bool CWizardDriver::WaitFor(const std::function<bool()>& condition, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

void CWizardDriver::EnumWizardDesktop(WNDENUMPROC callback, void* context) {
    // Opened afresh each time: a handle taken while explorer is still setting the desktop up shows no windows.
    HDESK desktop = OpenDesktopW(desktop_name_.c_str(), 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (!desktop) return;
    EnumDesktopWindows(desktop, callback, reinterpret_cast<LPARAM>(context));
    CloseDesktop(desktop);
}

HWND CWizardDriver::Wizard() {
    TopSearch search{true, 0, nullptr};
    EnumWizardDesktop(FindTop, &search);
    return search.found;
}

HWND CWizardDriver::Question() {
    TopSearch search{false, 0, nullptr};
    EnumWizardDesktop(FindTop, &search);
    return search.found;
}

HWND CWizardDriver::Control(int id) {
    HWND wizard = Wizard();
    if (!wizard) return nullptr;
    Search search{id, nullptr};
    EnumChildWindows(wizard, FindVisibleControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring CWizardDriver::Text(HWND window) {
    if (!window) return std::wstring();
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(length + 1, L'\0');
    SendMessageW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

void CWizardDriver::Type(int id, const std::wstring& text) {
    SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CWizardDriver::Click(int id) {
    PostMessageW(Control(id), BM_CLICK, 0, 0);
}

void CWizardDriver::ClickIn(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool CWizardDriver::Shot(const std::string& name) {
    return testing::screenshot(L"wizard-shots", name);
}

bool CWizardDriver::Ended(DWORD timeout_ms, DWORD* code) {
    if (!wizard_process_ || WaitForSingleObject(wizard_process_, timeout_ms) != WAIT_OBJECT_0) return false;
    if (code) GetExitCodeProcess(wizard_process_, code);
    return true;
}
