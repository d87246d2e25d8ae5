#include "key_file_dialog.h"

#include <commdlg.h>

#include <tools/file_dialog.h>

namespace shell {

namespace {

tools::file_choice key_file_choice(HWND owner, const wchar_t* title, DWORD flags) {
    tools::file_choice choice;
    choice.owner = owner;
    choice.title = title;
    choice.filter = L"PKCS#12 files (*.pfx)\0*.pfx\0";
    choice.default_extension = L"pfx";
    choice.flags = flags;
    return choice;
}

bool chosen(std::wstring file, std::wstring& path) {
    if (file.empty()) return false;
    path = std::move(file);
    return true;
}

}  // namespace

bool ChooseKeyFileToOpen(HWND owner, const wchar_t* title, std::wstring& path) {
    return chosen(tools::choose_file_to_open(key_file_choice(
                      owner, title, OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_ENABLESIZING)),
                  path);
}

bool ChooseKeyFileToSave(HWND owner, const wchar_t* title, std::wstring& path) {
    return chosen(tools::choose_file_to_save(
                      key_file_choice(owner, title, OFN_OVERWRITEPROMPT | OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_ENABLESIZING)),
                  path);
}

}  // namespace shell
