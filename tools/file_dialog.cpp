#include "tools/file_dialog.h"

#include <commdlg.h>

namespace tools {

namespace {

std::wstring choose(BOOL(WINAPI* run)(OPENFILENAMEW*), const file_choice& choice) {
    wchar_t file[MAX_PATH] = L"";
    // A start path that does not fit is not shown rather than cut.
    if (choice.initial.size() < MAX_PATH) choice.initial.copy(file, choice.initial.size());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = choice.owner;
    dialog.lpstrFilter = choice.filter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = choice.title;
    dialog.lpstrDefExt = choice.default_extension;
    dialog.Flags = choice.flags;
    if (run(&dialog)) return file;
    if (DWORD code = CommDlgExtendedError()) throw file_dialog_failure(code);
    return std::wstring();
}

}  // namespace

file_dialog_failure::file_dialog_failure(DWORD code)
    : std::runtime_error("The file dialog failed with error #" + std::to_string(code) + "."), code(code) {}

std::wstring choose_file_to_open(const file_choice& choice) { return choose(GetOpenFileNameW, choice); }

std::wstring choose_file_to_save(const file_choice& choice) { return choose(GetSaveFileNameW, choice); }

}  // namespace tools
