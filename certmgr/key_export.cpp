#include "certmgr/key_export.h"

#include "certmgr/manager_texts.h"

#include <commdlg.h>
#include <cryptuiapi.h>
#include <platform/pfx_export.h>
#include <platform/pfx_export_wizard.h>
#include <tools/file_dialog.h>
#include <tools/file_io.h>
#include <tools/text.h>
#include <tools/certificates.h>
#include <tools/win_except.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Not in every toolchain's header.
const DWORD kExportPrivateKey = 0x100;
const DWORD kExportNoDeletePrivateKey = 0x200;

using export_wizard = BOOL(WINAPI*)(DWORD flags, HWND owner, LPCWSTR title, PCCRYPTUI_WIZ_EXPORT_INFO info, void*);

export_wizard bind_export_wizard() {
    static const export_wizard bound =
        reinterpret_cast<export_wizard>(tools::certificate_dialogs_export("CryptUIWizExport"));
    return bound;
}

bool run_system_wizard(HWND owner, PCCERT_CONTEXT cert) {
    CRYPTUI_WIZ_EXPORT_INFO info{};
    info.dwSize = sizeof(info);
    info.dwSubjectChoice = CRYPTUI_WIZ_EXPORT_CERT_CONTEXT;
    info.pCertContext = cert;
    if (bind_export_wizard()(kExportPrivateKey | kExportNoDeletePrivateKey, owner, kManagerCaption, &info, nullptr))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_CANCELLED) return false;
    throw tools::win_except(error);
}

// The file to write, or empty when the user cancelled.
std::wstring ask_key_file_path(HWND owner) {
    tools::file_choice choice;
    choice.owner = owner;
    choice.title = kManagerCaption;
    choice.filter = L"Personal Information Exchange (*.pfx)\0*.pfx\0";
    choice.default_extension = L"pfx";
    choice.flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOREADONLYRETURN | OFN_EXPLORER | OFN_ENABLESIZING;
    return tools::choose_file_to_save(choice);
}

// Where the system's wizard cannot write a key: the password, the file, then our own PKCS#12 writer.
bool export_ourselves(HWND owner, PCCERT_CONTEXT cert) {
    std::wstring password;
    if (!platform::ask_export_password(owner, kManagerCaption, password)) return false;
    struct wipe {
        std::wstring& text;
        ~wipe() { SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t)); }
    } wiped{password};
    std::wstring path = ask_key_file_path(owner);
    if (path.empty()) return false;

    tools::auto_cert_store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) tools::throw_last_error();
    tools::check_win(CertAddCertificateContextToStore(store.get(), cert, CERT_STORE_ADD_ALWAYS, nullptr));
    std::vector<unsigned char> blob;
    if (!platform::export_pfx(store.get(), password.c_str(), blob)) tools::throw_last_error();
    tools::write_file(path.c_str(), blob.data(), blob.size());
    MessageBoxW(owner, L"The export was successful.", kManagerCaption, MB_OK | MB_ICONINFORMATION);
    return true;
}

}  // namespace

bool IsPrivateKeyExportable(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return false;
    std::vector<BYTE> data(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) return false;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    // The information's flags also hold CERT_SET_KEY_CONTEXT_PROP_ID, which the key creation sets and which
    // CryptAcquireContextW refuses (NTE_BAD_FLAGS): only the flags it accepts are passed on.
    DWORD flags = info->dwFlags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    HCRYPTPROV raw_provider = 0;
    if (!CryptAcquireContextW(&raw_provider, info->pwszContainerName, info->pwszProvName, info->dwProvType, flags))
        return false;
    tools::auto_crypt_prov provider(raw_provider);
    HCRYPTKEY raw_key = 0;
    if (!CryptGetUserKey(raw_provider, AT_KEYEXCHANGE, &raw_key)) return false;
    tools::auto_crypt_key key(raw_key);
    DWORD permissions = 0, length = sizeof(permissions);
    if (!CryptGetKeyParam(raw_key, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&permissions), &length, 0)) return false;
    return (permissions & CRYPT_EXPORT) != 0;
}

bool ExportCertificate(HWND owner, PCCERT_CONTEXT cert) {
    try {
        try {
            return platform::export_wizard_exports_keys() ? run_system_wizard(owner, cert) : export_ourselves(owner, cert);
        } catch (const std::exception& e) {
            std::wstring text = L"Unable to export certificate due to the following error:\n\n   " +
                                tools::to_wide(e.what()) + L"\n\nPlease try to export the certificate manually.";
            MessageBoxW(owner, text.c_str(), kManagerCaption, MB_OK | MB_ICONERROR);
        } catch (...) {
            MessageBoxW(owner,
                        L"Unable to export certificate due to undefined error.\n\nPlease try to export the certificate "
                        L"manually.",
                        kManagerCaption, MB_OK | MB_ICONERROR);
        }
    } catch (...) {
        // Not even the message could be made.
    }
    return false;
}
