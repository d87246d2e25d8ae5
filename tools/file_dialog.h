// One file chosen in the system's common file dialog, for every program that asks for one.
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <stdexcept>
#include <string>

namespace tools {

struct file_choice {
    HWND owner = nullptr;
    const wchar_t* title = nullptr;              // null: the dialog's own
    const wchar_t* filter = nullptr;             // pairs of NUL-ended texts, ended by an empty text
    const wchar_t* default_extension = nullptr;  // without its dot
    DWORD flags = 0;                             // OFN_*
    std::wstring initial;                        // the path the dialog starts with, dropped when it refuses it
};

// A dialog that failed, as opposed to one the user cancelled; `code` is CommDlgExtendedError's.
class file_dialog_failure : public std::runtime_error {
public:
    explicit file_dialog_failure(DWORD code);
    DWORD code;
};

// The path chosen, or empty when the user cancelled; a failing dialog raises file_dialog_failure.
std::wstring choose_file_to_open(const file_choice& choice);
std::wstring choose_file_to_save(const file_choice& choice);

// One run of a common dialog: true when a path was chosen, else false with the dialog's failure code
// (CommDlgExtendedError's; 0 when the user cancelled).
using file_dialog_runner = bool (*)(OPENFILENAMEW& dialog, DWORD& failure);
// The two above, over the dialog that `run` shows; tests stand in for the system's dialog with it.
std::wstring choose_file(file_dialog_runner run, const file_choice& choice);

}  // namespace tools
