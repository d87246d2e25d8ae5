// The exception for failed system calls, carrying the Win32 code and the system's text for it.
#pragma once
#include <windows.h>
#include <exception>
#include <string>

namespace tools {

class win_except : public std::exception {
public:
    explicit win_except(DWORD code);
    const char* what() const noexcept override { return message_.c_str(); }
    DWORD code() const noexcept { return code_; }

private:
    DWORD code_;
    std::string message_;
};

// The system's message for a Win32 code in the user's language, else the system's, else a fallback.
std::wstring format_win_error(DWORD code);

// Throws win_except(GetLastError()); ERROR_INTERNAL_ERROR when the failed call left no code.
[[noreturn]] void throw_last_error();
[[noreturn]] void throw_invalid_thread();

// Throws win_except(GetLastError()) when a BOOL-returning call failed.
inline void check_win(BOOL ok) { if (!ok) throw_last_error(); }

}  // namespace tools
