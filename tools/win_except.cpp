#include "win_except.h"
#include "text.h"

#include <cwchar>

namespace tools {

win_except::win_except(DWORD code) : code_(code), message_(to_narrow(format_win_error(code).c_str())) {}

namespace {
// Insertion places stay as they are: no arguments are at hand, and a system text asked to fill them
// would read arguments that were never passed.
bool system_message(DWORD code, LANGID lang, std::wstring& out) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, lang,
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n == 0 || !buffer) return false;
    out.assign(buffer, n);
    LocalFree(buffer);
    return true;
}
}  // namespace

std::wstring format_win_error(DWORD code) {
    std::wstring text;
    if (system_message(code, GetUserDefaultLangID(), text) || system_message(code, GetSystemDefaultLangID(), text))
        return text;
    wchar_t hex[16];
    swprintf(hex, 16, L"%lX", static_cast<unsigned long>(code));
    return L"Undefined error #" + std::wstring(hex);
}

// A call that failed without saying why must still fail: a code of 0 would reach a COM caller as S_OK.
void throw_last_error() {
    DWORD code = GetLastError();
    throw win_except(code != 0 ? code : ERROR_INTERNAL_ERROR);
}

void throw_invalid_thread() { throw win_except(ERROR_INVALID_THREAD_ID); }

}  // namespace tools
