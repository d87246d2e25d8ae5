#include "key_installation.h"

#include <cryptuiapi.h>
#include <shlobj.h>
#include <platform/check_box_message_box.h>
#include <platform/pfx_import_wizard.h>
#include <tools/certificates.h>
#include <tools/file_io.h>
#include <tools/pfx_import.h>
#include <tools/text.h>
#include <tools/win_except.h>

#include <exception>
#include <vector>

namespace {

using import_wizard = BOOL(WINAPI*)(DWORD flags, HWND owner, LPCWSTR title, PCCRYPTUI_WIZ_IMPORT_SRC_INFO source,
                                    HCERTSTORE destination);

import_wizard bind_import_wizard() {
    static const import_wizard bound =
        reinterpret_cast<import_wizard>(tools::certificate_dialogs_export("CryptUIWizImport"));
    return bound;
}

struct key_container {
    std::wstring name, provider;
    DWORD type = 0;
};

// The container that a certificate's key provider information names; empty without one.
key_container container_of(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!cert || !CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return {};
    tools::byte_buffer data(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) return {};
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    return {info->pwszContainerName ? info->pwszContainerName : L"", info->pwszProvName ? info->pwszProvName : L"",
            info->dwProvType};
}

// Where the system's wizard cannot read key files: our password prompt, then the product's own import (each key
// in a container of its own) into the user's store. A wrong password is an error, as in the system's wizard.
void import_key_file_ourselves(HWND owner, const wchar_t* key_file, const wchar_t* title) {
    tools::byte_buffer bytes;
    tools::read_file(key_file, bytes);
    std::wstring password;
    if (!platform::ask_key_file_password(owner, title, key_file, password)) return;
    tools::cert_list certs = tools::import_pfx(bytes, password.c_str());
    SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
    // A key installed before gives way to its new copy: its certificate leaves the store (replacing it in place
    // keeps the old key provider information on Wine) and its container goes once the new one is in.
    std::vector<key_container> replaced;
    tools::auto_cert_store store;
    tools::cert_list removed;
    try {
        store = tools::open_user_store(L"MY");
        for (const tools::cert_record& cert : certs) {
            tools::auto_cert_context earlier(
                CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert.get(), nullptr));
            if (earlier) {
                replaced.push_back(container_of(earlier.get()));
                removed.emplace_back(earlier);
                tools::check_win(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(earlier.get())));
            }
            tools::check_win(CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                                              nullptr));
        }
    } catch (...) {
        for (const tools::cert_record& cert : certs) {
            try {
                tools::delete_key_container(cert);
            } catch (...) {
            }
        }
        for (const tools::cert_record& cert : removed)
            CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        throw;
    }
    for (const key_container& old : replaced) {
        if (old.name.empty()) continue;
        HCRYPTPROV unused = 0;
        CryptAcquireContextW(&unused, old.name.c_str(), old.provider.c_str(), old.type, CRYPT_DELETEKEYSET);
    }
    MessageBoxW(owner, L"The import was successful.", title, MB_ICONINFORMATION);
}

void import_key_file(HWND owner, const wchar_t* key_file, const wchar_t* title) {
    if (!platform::import_wizard_reads_pfx()) return import_key_file_ourselves(owner, key_file, title);
    import_wizard run = bind_import_wizard();
    CRYPTUI_WIZ_IMPORT_SRC_INFO source{};
    source.dwSize = sizeof(source);
    source.dwSubjectChoice = CRYPTUI_WIZ_IMPORT_SUBJECT_FILE;
    source.pwszFileName = key_file;
    source.dwFlags = CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_USER_KEYSET;
    source.pwszPassword = nullptr;
    if (!run(CRYPTUI_WIZ_IMPORT_TO_CURRENTUSER, owner, title, &source, nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_CANCELLED) throw tools::win_except(error);
    }
}

}  // namespace

int AskInstallKey(HWND owner) {
    static const platform::check_box_message_box_function ask = platform::bound_check_box_message_box();
    if (!ask) return -1;
    return ask(owner, L"The storage and it's key were successfully created.\n\nDo you want to install the key right now?",
               L"Orrisafe Wizard", MB_YESNO | MB_ICONQUESTION, IDYES, L"{79282F18-7951-4AE0-92BA-BEFDAA1F65BA}");
}

BOOL InstallKey(HWND owner, const wchar_t* key_file, const wchar_t* title) {
    try {
        try {
            import_key_file(owner, key_file, title);
            return TRUE;
        } catch (const std::exception& e) {
            std::wstring text = L"Unable to install key due to the following error:\n\n   " + tools::to_wide(e.what()) +
                                L"\n\nPlease try to install the key manually.";
            MessageBoxW(owner, text.c_str(), title, MB_ICONERROR);
        } catch (...) {
            MessageBoxW(owner, L"Unable to install key due to undefined error.\n\nPlease try to install the key manually.",
                        title, MB_ICONERROR);
        }
    } catch (...) {
        // Not even the message could be made; the caller still learns that nothing was installed.
    }
    return FALSE;
}

std::wstring TempKeyFilePath() {
    wchar_t folder[MAX_PATH];
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE)) throw tools::win_except(ERROR_FILE_NOT_FOUND);
    return std::wstring(folder) + L"\\" + tools::guid_to_string(tools::new_guid()) + L".pfx";
}
