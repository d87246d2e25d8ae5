#include "user_guide.h"
#include "paths.h"
#include "win_except.h"

#include <shellapi.h>
#include <iterator>

namespace tools {

namespace {
struct error_row {
    INT_PTR code;
    const wchar_t* text;
};

// The first matching row wins; the repeated rows are kept as they always stood.
const error_row shell_execute_errors[] = {
    {0, L"The operating system is out of memory or resources."},
    {2, L"The specified file was not found."},
    {3, L"The specified path was not found."},
    {11, L"The .exe file is invalid (non-Microsoft Win32 .exe or error in .exe image)."},
    {5, L"The operating system denied access to the specified file."},
    {27, L"The file name association is incomplete or invalid."},
    {30, L"The Dynamic Data Exchange (DDE) transaction could not be completed because other DDE transactions were "
         L"being processed."},
    {29, L"The DDE transaction failed."},
    {28, L"The DDE transaction could not be completed because the request timed out."},
    {32, L"The specified DLL was not found."},
    {2, L"The specified file was not found."},
    {31, L"There is no application associated with the given file name extension. This error will also be returned "
         L"if you attempt to print a file that is not printable."},
    {8, L"There was not enough memory to complete the operation."},
    {3, L"The specified path was not found."},
    {26, L"A sharing violation occurred."},
};
}  // namespace

bool shell_execute_error_text(INT_PTR code, std::wstring& text) {
    if (code > 32) return false;
    for (const auto& row : shell_execute_errors)
        if (row.code == code) {
            text = row.text;
            return true;
        }
    text = L"ShellExecute error #" + std::to_wstring(static_cast<long long>(code));
    return true;
}

void open_user_guide(const wchar_t* caption, HWND owner, HMODULE module) {
    try {
        std::wstring path = path_directory(module_file_path(module)) + L"\\orrisafe-guide.pdf";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::wstring text = L"Unable to open help file. File " + path +
                                L" was not found.\n\nPlease, reinstall the program and try again.";
            MessageBoxW(owner, text.c_str(), caption, MB_ICONWARNING);
            return;
        }
        INT_PTR result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
        std::wstring reason;
        if (shell_execute_error_text(result, reason))
            MessageBoxW(owner, (L"Unable to open help file. " + reason).c_str(), caption, MB_ICONERROR);
    } catch (const win_except& e) {
        // Only a module that is no module fails here; the user still gets an answer, never an exception.
        MessageBoxW(owner, (L"Unable to open help file. " + format_win_error(e.code())).c_str(), caption, MB_ICONERROR);
    } catch (...) {
    }
}

}  // namespace tools
