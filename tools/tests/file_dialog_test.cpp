// The common file dialog's start name. Windows' dialog refuses to open on a start name with characters a file name
// may not hold (FNERR_INVALIDFILENAME); Wine's opens on it, so a stand-in dialog refuses here.
#include <doctest.h>
#include <windows.h>
#include <cderr.h>

#include <string>
#include <vector>

#include "tools/file_dialog.h"

namespace {

std::vector<std::wstring> start_names;  // one per run of the dialog

bool refusing_bad_names(OPENFILENAMEW& dialog, DWORD& failure) {
    start_names.push_back(dialog.lpstrFile);
    if (wcspbrk(dialog.lpstrFile, L"<>|\"")) {
        failure = FNERR_INVALIDFILENAME;
        return false;
    }
    wcscpy(dialog.lpstrFile, L"C:\\chosen.orrisafe");
    return true;
}

bool refusing_everything(OPENFILENAMEW& dialog, DWORD& failure) {
    start_names.push_back(dialog.lpstrFile);
    failure = FNERR_INVALIDFILENAME;
    return false;
}

}  // namespace

TEST_CASE("a start name the file dialog refuses is dropped and the dialog opened without it") {
    tools::file_choice choice;
    choice.initial = L"C:\\data\\bad|name";
    CHECK(tools::choose_file(refusing_bad_names, choice) == L"C:\\chosen.orrisafe");
    CHECK(start_names == std::vector<std::wstring>{L"C:\\data\\bad|name", L""});

    // A start name it takes is kept; a dialog that refuses even no name at all has failed.
    start_names.clear();
    choice.initial = L"C:\\data\\good";
    CHECK(tools::choose_file(refusing_bad_names, choice) == L"C:\\chosen.orrisafe");
    CHECK(start_names == std::vector<std::wstring>{L"C:\\data\\good"});
    start_names.clear();
    try {
        tools::choose_file(refusing_everything, choice);
        FAIL("no failure");
    } catch (const tools::file_dialog_failure& failure) {
        CHECK(failure.code == FNERR_INVALIDFILENAME);
    }
    CHECK(start_names.size() == 2);
}
