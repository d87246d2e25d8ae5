#include "message_boxes.h"

#include <platform/check_box_message_box.h>
#include <tools/win_except.h>
#include "message_serving_wait.h"

namespace shell {

HWND BoxOwner(HWND owner) noexcept {
    if (!owner || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) return nullptr;
    return owner;
}

std::wstring ErrorBoxText(DWORD code, const wchar_t* heading) {
    return std::wstring(heading ? heading : L"An error has occured:") + L"\n\n" + tools::format_win_error(code);
}

void ShowErrorBox(HWND owner, DWORD code, const wchar_t* heading) noexcept {
    try {
        static CServingLock one_at_a_time;
        const std::wstring text = ErrorBoxText(code, heading);
        CServingLockGuard lock(one_at_a_time);
        MessageBoxW(BoxOwner(owner), text.c_str(), box_caption, MB_ICONERROR);
    } catch (...) {
        // No box can be shown; there is nobody else to tell.
    }
}

int ShowMessageBoxCheck(HWND owner, const wchar_t* text, const wchar_t* caption, const wchar_t* value_name) noexcept {
    // Bound once per process.
    static const platform::check_box_message_box_function box = platform::bound_check_box_message_box();
    if (!box) return -1;
    return box(BoxOwner(owner), text, caption, MB_YESNO | MB_ICONQUESTION, IDYES, value_name);
}

}  // namespace shell
