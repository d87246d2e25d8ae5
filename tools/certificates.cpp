#include "certificates.h"
#include "com_error.h"
#include "win_except.h"

#include <cryptuiapi.h>
#include <algorithm>

namespace tools {

namespace {
constexpr DWORD cert_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

byte_buffer context_property(PCCERT_CONTEXT cert, DWORD id) {
    DWORD size = 0;
    check_win(CertGetCertificateContextProperty(cert, id, nullptr, &size));
    byte_buffer data(size);
    check_win(CertGetCertificateContextProperty(cert, id, data.data(), &size));
    data.resize(size);
    return data;
}

// What the platform derives for a certificate without the subject-key-identifier extension.
byte_buffer public_key_info_sha1(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    check_win(CryptHashPublicKeyInfo(0, CALG_SHA1, 0, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                                     nullptr, &size));
    byte_buffer hash(size);
    check_win(CryptHashPublicKeyInfo(0, CALG_SHA1, 0, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                                     hash.data(), &size));
    hash.resize(size);
    return hash;
}
}  // namespace

auto_cert_context hold_cert_context(PCCERT_CONTEXT raw) {
    if (!raw) return {};
    return auto_cert_context(cert_context_policy::duplicate(raw));
}

cert_list chain_certificates(const cert_record& cert) {
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    check_win(CertGetCertificateChain(nullptr, cert.get(), nullptr, nullptr, &para,
                                      CERT_CHAIN_REVOCATION_CHECK_CHAIN, nullptr, &raw));
    auto_cert_chain chain(raw);
    cert_list out;
    for (DWORD c = 0; c < raw->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = raw->rgpChain[c];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            const CERT_CHAIN_ELEMENT* element = simple->rgpElement[e];
            if (element->TrustStatus.dwErrorStatus & ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN))
                _com_issue_error(E_ACCESSDENIED);
            out.emplace_back(hold_cert_context(element->pCertContext));
        }
    }
    return out;
}

byte_buffer cert_key_identifier(const cert_record& cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert.get(), CERT_KEY_IDENTIFIER_PROP_ID, nullptr, &size)) {
        DWORD error = GetLastError();
        const CERT_INFO* info = cert.get()->pCertInfo;
        if (CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, info->cExtension, info->rgExtension))
            throw win_except(error);
        return public_key_info_sha1(cert.get());
    }
    return context_property(cert.get(), CERT_KEY_IDENTIFIER_PROP_ID);
}

auto_crypt_prov acquire_cert_provider(const cert_record& cert) {
    byte_buffer data = context_property(cert.get(), CERT_KEY_PROV_INFO_PROP_ID);
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    HCRYPTPROV raw = 0;
    check_win(CryptAcquireContextW(&raw, info->pwszContainerName, info->pwszProvName, info->dwProvType, 0));
    auto_crypt_prov provider(raw);
    // Only a hint for the provider's own prompts: a provider without any (Wine's) refuses it, and
    // refuses with no error code, so a refusal must not cost the caller its key.
    if (cert.owner_window)
        CryptSetProvParam(raw, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(cert.owner_window), 0);
    return provider;
}

auto_crypt_key get_exchange_key(const auto_crypt_prov& provider) {
    HCRYPTKEY key = 0;
    check_win(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, &key));
    return auto_crypt_key(key);
}

cert_key get_cert_key(const cert_record& cert) {
    cert_key out;
    out.provider = acquire_cert_provider(cert);
    out.key = get_exchange_key(out.provider);
    return out;
}

byte_buffer rsa_encrypt(const cert_record& cert, const byte_buffer& data) {
    cert_key key = get_cert_key(cert);
    DWORD length = static_cast<DWORD>(data.size());
    check_win(CryptEncrypt(key.key.get(), 0, TRUE, 0, nullptr, &length, 0));
    byte_buffer out(data);
    out.resize(std::max<size_t>(length, data.size()));
    DWORD used = static_cast<DWORD>(data.size());
    check_win(CryptEncrypt(key.key.get(), 0, TRUE, 0, out.data(), &used, static_cast<DWORD>(out.size())));
    out.resize(used);
    return out;
}

byte_buffer rsa_decrypt(const cert_record& cert, const byte_buffer& data) {
    cert_key key = get_cert_key(cert);
    byte_buffer out(data);
    DWORD length = static_cast<DWORD>(out.size());
    check_win(CryptDecrypt(key.key.get(), 0, TRUE, 0, out.data(), &length));
    out.resize(length);
    return out;
}

auto_cert_store open_user_store(const wchar_t* name) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
    if (!store) throw_last_error();
    return auto_cert_store(store);
}

auto_cert_context find_cert_by_key_identifier(const wchar_t* store_name, const byte_buffer& id) {
    auto_cert_store store = open_user_store(store_name);
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(id.size()), const_cast<BYTE*>(id.data())};
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store.get(), cert_encoding, 0, CERT_FIND_KEY_IDENTIFIER, &blob, nullptr);
    if (found) return auto_cert_context(found);
    DWORD error = GetLastError();
    // Wine finds no certificate that lacks the identifier extension; compare the derived identifiers.
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(store.get(), c))) {
        const CERT_INFO* info = c->pCertInfo;
        if (CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, info->cExtension, info->rgExtension)) continue;
        bool match = false;
        try {
            match = public_key_info_sha1(c) == id;
        } catch (...) {
            CertFreeCertificateContext(c);
            throw;
        }
        if (match) return auto_cert_context(c);  // the enumeration's reference becomes ours
    }
    throw win_except(error);
}

bool view_certificate(HWND owner, const cert_record& cert) {
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view{};
    view.dwSize = sizeof(view);
    view.hwndParent = owner;
    view.pCertContext = cert.get();
    BOOL changed = FALSE;
    return CryptUIDlgViewCertificateW(&view, &changed) != FALSE;
}

FARPROC certificate_dialogs_export(const char* name) {
    HMODULE dialogs = LoadLibraryW(L"cryptui.dll");
    FARPROC found = dialogs ? GetProcAddress(dialogs, name) : nullptr;
    if (!found) throw_last_error();
    return found;
}

}  // namespace tools
