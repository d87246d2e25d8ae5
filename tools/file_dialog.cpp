#include "tools/file_dialog.h"

#include <cderr.h>

namespace tools {

namespace {

template <BOOL(WINAPI* run)(OPENFILENAMEW*)>
bool run_common_dialog(OPENFILENAMEW& dialog, DWORD& failure) {
    if (run(&dialog)) return true;
    failure = CommDlgExtendedError();
    return false;
}

}  // namespace

file_dialog_failure::file_dialog_failure(DWORD code)
    : std::runtime_error("The file dialog failed with error #" + std::to_string(code) + "."), code(code) {}

std::wstring choose_file(file_dialog_runner run, const file_choice& choice) {
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
    DWORD failure = 0;
    if (run(dialog, failure)) return file;
    // The dialog refuses to open on a start name it finds invalid (whatever the user typed): it opens without one.
    if (failure == FNERR_INVALIDFILENAME && file[0]) {
        file[0] = L'\0';
        failure = 0;
        if (run(dialog, failure)) return file;
    }
    if (failure) throw file_dialog_failure(failure);
    return std::wstring();
}

std::wstring choose_file_to_open(const file_choice& choice) {
    return choose_file(run_common_dialog<GetOpenFileNameW>, choice);
}

std::wstring choose_file_to_save(const file_choice& choice) {
    return choose_file(run_common_dialog<GetSaveFileNameW>, choice);
}

}  // namespace tools
