#include "key_file_dialog.h"

#include <commdlg.h>

#include <tools/win_except.h>

namespace shell {

namespace {

using file_dialog = BOOL(WINAPI*)(OPENFILENAMEW*);

file_dialog bind(const char* name) {
    HMODULE library = LoadLibraryW(L"comdlg32.dll");
    FARPROC entry = library ? GetProcAddress(library, name) : nullptr;
    if (!entry) tools::throw_last_error();
    return reinterpret_cast<file_dialog>(entry);
}

bool choose(file_dialog run, HWND owner, const wchar_t* title, DWORD flags, std::wstring& path) {
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"PKCS#12 files (*.pfx)\0*.pfx\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = title;
    dialog.Flags = flags;
    dialog.lpstrDefExt = L"pfx";
    if (!run(&dialog)) return false;
    path = file;
    return true;
}

}  // namespace

bool ChooseKeyFileToOpen(HWND owner, const wchar_t* title, std::wstring& path) {
    static const file_dialog run = bind("GetOpenFileNameW");
    return choose(run, owner, title, OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_ENABLESIZING, path);
}

bool ChooseKeyFileToSave(HWND owner, const wchar_t* title, std::wstring& path) {
    static const file_dialog run = bind("GetSaveFileNameW");
    return choose(run, owner, title, OFN_NONETWORKBUTTON | OFN_EXPLORER | OFN_ENABLESIZING, path);
}

}  // namespace shell
