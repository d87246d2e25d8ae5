#include "certmgr/key_install.h"

#include "certmgr/manager_texts.h"

#include <commdlg.h>
#include <string>
#include <wizard/keys/key_installation.h>

bool InstallKeyFromPfx(HWND owner) {
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"PKCS#12 files (*.pfx)\0*.pfx\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"pfx";
    ofn.lpstrTitle = L"Select Orrisafe key file...";
    ofn.Flags = OFN_ENABLESIZING | OFN_EXPLORER | OFN_NONETWORKBUTTON | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&ofn)) {
        if (DWORD error = CommDlgExtendedError()) {
            std::wstring text = L"Unable to install key due to internal error #" + std::to_wstring(error);
            MessageBoxW(owner, text.c_str(), kManagerCaption, MB_OK | MB_ICONERROR);
        }
        return false;
    }
    return ImportPfxIntoUserStore(owner, file);
}

bool ImportPfxIntoUserStore(HWND owner, const wchar_t* path) {
    // The same installation the wizard offers, with the same texts, under the manager's caption.
    return InstallKey(owner, path, kManagerCaption) != FALSE;
}
