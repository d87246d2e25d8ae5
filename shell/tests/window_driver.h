// Finds this process's top-level windows by caption and answers them, from a thread other than theirs.
#pragma once
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
#include <string>

namespace shell_testing {

// The first visible top-level window of this process with that caption that also passes the test; waits up to
// timeout_ms, null when none came.
HWND WaitForWindow(const std::wstring& caption, const std::function<bool(HWND)>& test = {}, DWORD timeout_ms = 15000);
// The first visible top-level window of this process that passes the test, whatever its caption.
HWND WaitForTopWindow(const std::function<bool(HWND)>& test, DWORD timeout_ms = 15000);
// Waits until the window is gone; false when it stayed.
bool WaitUntilGone(HWND window, DWORD timeout_ms = 15000);
// A message box's text.
std::wstring BoxText(HWND box);
// Presses a button of a dialog or message box as a click would.
void Press(HWND dialog, int id);

// Answers every message box captioned "Orrisafe" that comes up while it lives (the password prompt, which has the
// same caption, is left alone), and keeps their texts.
class box_answerer {
public:
    box_answerer();
    ~box_answerer();
    box_answerer(const box_answerer&) = delete;
    box_answerer& operator=(const box_answerer&) = delete;
    // The texts so far, a box that is still coming included.
    std::vector<std::wstring> texts();

private:
    void run();
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::wstring> texts_;
    std::thread thread_;
};

}  // namespace shell_testing
