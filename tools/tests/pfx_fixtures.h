// The PKCS#12 files made by make_pfx_fixtures.sh, and independent looks into the user's key set.
#pragma once
#include "test_support.h"

#include <tools/auto_handle.h>
#include <tools/file_io.h>
#include <tools/pfx_import.h>
#include <tools/text.h>

#include <wincrypt.h>
#include <algorithm>
#include <set>
#include <string>

namespace testing {

inline const wchar_t* fixture_password = L"Orri-Pass1";

inline std::wstring fixture_path(const wchar_t* name) { return env(L"ORRI_PFX_DIR") + L"\\" + name; }

inline tools::byte_buffer fixture_bytes(const wchar_t* name) {
    tools::byte_buffer bytes;
    tools::read_file(fixture_path(name), bytes);
    return bytes;
}

inline std::string fixture_text(const wchar_t* name) {
    tools::byte_buffer bytes = fixture_bytes(name);
    std::string text(bytes.begin(), bytes.end());
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

// The names of every key container in the user's key set.
inline std::set<std::string> key_containers() {
    std::set<std::string> names;
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return names;
    tools::auto_crypt_prov prov(raw);
    char name[1024];
    for (DWORD flag = CRYPT_FIRST;; flag = CRYPT_NEXT) {
        DWORD size = sizeof(name);
        if (!CryptGetProvParam(raw, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flag)) break;
        names.insert(name);
    }
    return names;
}

inline bool container_exists(const wchar_t* name) {
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, name, MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0)) return false;
    CryptReleaseContext(raw, 0);
    return true;
}

// Whether the container's exchange key is the key of that certificate.
inline bool container_holds_key_of(const std::wstring& container, PCCERT_CONTEXT cert) {
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, container.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0)) return false;
    tools::auto_crypt_prov prov(raw);
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(raw, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size)) return false;
    tools::byte_buffer info(size);
    if (!CryptExportPublicKeyInfo(raw, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                  reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &size))
        return false;
    return CertComparePublicKeyInfo(X509_ASN_ENCODING, reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()),
                                    &cert->pCertInfo->SubjectPublicKeyInfo) != FALSE;
}

// Every container of the user's key set whose exchange key is the certificate's key.
inline std::set<std::wstring> containers_holding_key_of(PCCERT_CONTEXT cert) {
    std::set<std::wstring> out;
    for (const auto& name : key_containers())
        if (container_holds_key_of(tools::to_wide(name), cert)) out.insert(tools::to_wide(name));
    return out;
}

// The container named by the certificate's key provider information, empty when it has none.
inline std::wstring prov_info_container(PCCERT_CONTEXT cert, DWORD* key_spec = nullptr) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return {};
    tools::byte_buffer data(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) return {};
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    if (key_spec) *key_spec = info->dwKeySpec;
    return info->pwszContainerName ? info->pwszContainerName : L"";
}

// Deletes the key containers of imported certificates when the test leaves, whichever way it leaves.
class imported_keys {
public:
    explicit imported_keys(tools::cert_list certs) : certs_(std::move(certs)) {}
    ~imported_keys() {
        for (const auto& c : certs_) try {
                tools::delete_key_container(c);
            } catch (...) {
            }
    }
    imported_keys(const imported_keys&) = delete;
    imported_keys& operator=(const imported_keys&) = delete;
    const tools::cert_list& list() const { return certs_; }
    const tools::cert_record& operator[](size_t i) const { return certs_.at(i); }
    size_t size() const { return certs_.size(); }

private:
    tools::cert_list certs_;
};

}  // namespace testing
