#include "window_driver.h"

#include <shell/input_prompt_resources.h>

namespace shell_testing {

namespace {

struct search {
    const std::wstring* caption;
    const std::function<bool(HWND)>* test;
    HWND found = nullptr;
};

BOOL CALLBACK match_window(HWND window, LPARAM context) {
    auto* s = reinterpret_cast<search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    // Read without a message: a window of a thread that is waiting (for this one, even) still answers.
    wchar_t text[256] = L"";
    InternalGetWindowText(window, text, 256);
    if ((s->caption && *s->caption != text) || (*s->test && !(*s->test)(window))) return TRUE;
    s->found = window;
    return FALSE;
}

HWND Wait(const std::wstring* caption, const std::function<bool(HWND)>& test, DWORD timeout_ms) {
    for (DWORD start = GetTickCount();; Sleep(20)) {
        search s{caption, &test};
        EnumWindows(match_window, reinterpret_cast<LPARAM>(&s));
        if (s.found || GetTickCount() - start > timeout_ms) return s.found;
    }
}

}  // namespace

HWND WaitForWindow(const std::wstring& caption, const std::function<bool(HWND)>& test, DWORD timeout_ms) {
    return Wait(&caption, test, timeout_ms);
}

HWND WaitForTopWindow(const std::function<bool(HWND)>& test, DWORD timeout_ms) { return Wait(nullptr, test, timeout_ms); }

bool WaitUntilGone(HWND window, DWORD timeout_ms) {
    for (DWORD start = GetTickCount(); IsWindow(window) && IsWindowVisible(window); Sleep(20))
        if (GetTickCount() - start > timeout_ms) return false;
    return true;
}

std::wstring BoxText(HWND box) {
    wchar_t text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

void Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

box_answerer::box_answerer() : thread_([this] { run(); }) {}

box_answerer::~box_answerer() {
    stop_ = true;
    thread_.join();
}

std::vector<std::wstring> box_answerer::texts() {
    Sleep(300);
    std::lock_guard<std::mutex> hold(lock_);
    return texts_;
}

void box_answerer::run() {
    while (!stop_) {
        HWND box = WaitForWindow(L"Orrisafe", [](HWND w) { return !GetDlgItem(w, IDC_INPUT_MASKED); }, 100);
        if (!box) continue;
        {
            std::lock_guard<std::mutex> hold(lock_);
            texts_.push_back(BoxText(box));
        }
        Press(box, IDOK);
        WaitUntilGone(box, 5000);
    }
}

}  // namespace shell_testing
