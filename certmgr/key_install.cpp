#include "certmgr/key_install.h"

#include "certmgr/manager_texts.h"

#include <commdlg.h>
#include <string>
#include <tools/file_dialog.h>
#include <wizard/keys/key_installation.h>

bool InstallKeyFromPfx(HWND owner) {
    tools::file_choice choice;
    choice.owner = owner;
    choice.title = L"Select Orrisafe key file...";
    choice.filter = L"PKCS#12 files (*.pfx)\0*.pfx\0";
    choice.default_extension = L"pfx";
    choice.flags = OFN_ENABLESIZING | OFN_EXPLORER | OFN_NONETWORKBUTTON | OFN_FILEMUSTEXIST;
    std::wstring file;
    try {
        file = tools::choose_file_to_open(choice);
    } catch (const tools::file_dialog_failure& failure) {
        std::wstring text = L"Unable to install key due to internal error #" + std::to_wstring(failure.code);
        MessageBoxW(owner, text.c_str(), kManagerCaption, MB_OK | MB_ICONERROR);
        return false;
    }
    return !file.empty() && ImportPfxIntoUserStore(owner, file.c_str());
}

bool ImportPfxIntoUserStore(HWND owner, const wchar_t* path) {
    // The same installation the wizard offers, with the same texts, under the manager's caption.
    return InstallKey(owner, path, kManagerCaption) != FALSE;
}
