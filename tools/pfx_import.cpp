#include "pfx_import.h"
#include "file_io.h"
#include "win_except.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tools {

namespace {
// Without PKCS12_NO_PERSIST_KEY Wine puts every key into the user's one default container.
constexpr DWORD import_flags = CRYPT_EXPORTABLE | CRYPT_USER_KEYSET | PKCS12_NO_PERSIST_KEY;

bool delete_container(const wchar_t* name, const wchar_t* provider, DWORD type, DWORD flags) {
    HCRYPTPROV unused = 0;
    return CryptAcquireContextW(&unused, name, provider, type, CRYPT_DELETEKEYSET | (flags & CRYPT_MACHINE_KEYSET)) != FALSE;
}

// Which kind of key of the container is the certificate's public key; 0 when neither.
DWORD container_key_of(const std::wstring& name, const std::wstring& provider, DWORD type, PCCERT_CONTEXT cert) {
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, name.c_str(), provider.c_str(), type, 0)) return 0;
    auto_crypt_prov prov(raw);
    for (DWORD spec : {static_cast<DWORD>(AT_KEYEXCHANGE), static_cast<DWORD>(AT_SIGNATURE)}) {
        DWORD size = 0;
        if (!CryptExportPublicKeyInfo(raw, spec, X509_ASN_ENCODING, nullptr, &size)) continue;
        byte_buffer info(size);
        auto* key = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data());
        if (CryptExportPublicKeyInfo(raw, spec, X509_ASN_ENCODING, key, &size) &&
            CertComparePublicKeyInfo(X509_ASN_ENCODING, key, &cert->pCertInfo->SubjectPublicKeyInfo))
            return spec;
    }
    return 0;
}

// Replaces a container's key of that kind by a new one that cannot be exported. The container
// itself stays: deleting it would make a concurrent import in another process fail, as Wine's
// import first tries to create the container and then opens the one that exists.
void overwrite_key(const std::wstring& name, const std::wstring& provider, DWORD type, DWORD spec) {
    HCRYPTPROV raw = 0;
    if (!CryptAcquireContextW(&raw, name.c_str(), provider.c_str(), type, 0)) return;
    auto_crypt_prov prov(raw);
    HCRYPTKEY key = 0;
    if (CryptGenKey(raw, spec, 0, &key)) CryptDestroyKey(key);
}  // the provider writes its keys when released

// The containers that one import makes. Its own ones are deleted again unless kept. A container
// that the platform's import persisted in spite of PKCS12_NO_PERSIST_KEY (Wine writes every key
// into the user's default container) loses the imported key while it still holds it, so no
// exportable copy stays behind; one that meanwhile holds some other key is left alone.
class import_containers {
public:
    ~import_containers() {
        if (!keep_)
            for (const auto& name : own_) delete_container(name.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0);
        for (const auto& t : temporary_)
            for (const auto& cert : certs_)
                if (DWORD spec = container_key_of(t.name, t.provider, t.type, cert.get())) {
                    overwrite_key(t.name, t.provider, t.type, spec);
                    break;
                }
    }
    void add_own(const std::wstring& name) { own_.push_back(name); }
    void add_temporary(HCRYPTPROV prov, PCCERT_CONTEXT cert) {
        certs_.push_back(hold_cert_context(cert));
        temporary t{prov_text(prov, PP_CONTAINER), prov_text(prov, PP_NAME), PROV_RSA_FULL};
        DWORD size = sizeof(t.type);
        if (!CryptGetProvParam(prov, PP_PROVTYPE, reinterpret_cast<BYTE*>(&t.type), &size, 0)) t.type = PROV_RSA_FULL;
        if (t.provider.empty()) t.provider = MS_ENHANCED_PROV_W;
        if (t.name.empty()) return;
        for (const auto& known : temporary_)
            if (known.name == t.name && known.provider == t.provider) return;
        temporary_.push_back(std::move(t));
    }
    void keep() { keep_ = true; }

private:
    struct temporary {
        std::wstring name, provider;
        DWORD type;
    };
    static std::wstring prov_text(HCRYPTPROV prov, DWORD param) {
        char text[1024];
        DWORD size = sizeof(text);
        if (!CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(text), &size, 0) || size == 0) return {};
        text[std::min<DWORD>(size, sizeof(text) - 1)] = 0;
        return to_wide(text);
    }
    std::vector<std::wstring> own_;
    std::vector<temporary> temporary_;
    std::vector<auto_cert_context> certs_;
    bool keep_ = false;
};

// Moves the private key that the import left in a temporary provider into a container of its own.
void move_key_to_own_container(PCCERT_CONTEXT cert, import_containers& made) {
    CERT_KEY_CONTEXT temp{};
    DWORD size = sizeof(temp);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_CONTEXT_PROP_ID, &temp, &size)) return;  // no private key

    made.add_temporary(temp.hCryptProv, cert);
    HCRYPTKEY raw_key = 0;
    if (!CryptGetUserKey(temp.hCryptProv, temp.dwKeySpec, &raw_key) &&
        !CryptGetUserKey(temp.hCryptProv, temp.dwKeySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE, &raw_key))
        throw_last_error();
    auto_crypt_key key(raw_key);
    DWORD length = 0;
    check_win(CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &length));
    byte_buffer blob(length);
    struct wipe {
        byte_buffer& bytes;
        ~wipe() { SecureZeroMemory(bytes.data(), bytes.size()); }
    } wipe_blob{blob};  // the private key in the clear, on every path
    check_win(CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &length));
    blob.resize(length);
    // Stored as the exchange key, whatever the file called it: that is the key the programs ask for.
    if (blob.size() >= sizeof(BLOBHEADER)) reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_KEYX;

    std::wstring name = guid_to_string(new_guid());
    HCRYPTPROV raw_prov = 0;
    check_win(CryptAcquireContextW(&raw_prov, name.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    made.add_own(name);
    {
        auto_crypt_prov provider(raw_prov);
        HCRYPTKEY imported = 0;
        check_win(CryptImportKey(raw_prov, blob.data(), static_cast<DWORD>(blob.size()), 0, CRYPT_EXPORTABLE, &imported));
        CryptDestroyKey(imported);
    }  // other handles see the key only once this one is released

    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = name.data();
    info.pwszProvName = const_cast<wchar_t*>(MS_ENHANCED_PROV_W);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    check_win(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    // The temporary provider is of no further use; dropping the property lets it go.
    CertSetCertificateContextProperty(cert, CERT_KEY_CONTEXT_PROP_ID, 0, nullptr);
}

HCERTSTORE try_import(const byte_buffer& pfx, const wchar_t* password) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    return PFXImportCertStore(&blob, password, import_flags);
}

[[noreturn]] void throw_import_failure(const byte_buffer& pfx, DWORD error) {
    if (error != 0) throw win_except(error);
    // Wine reports a wrong password with no error at all; Windows gives ERROR_INVALID_PASSWORD.
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    throw win_except(PFXIsPFXBlob(&blob) ? ERROR_INVALID_PASSWORD : static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
}
}  // namespace

cert_list import_pfx(const byte_buffer& pfx, const wchar_t* password) {
    SetLastError(0);
    HCERTSTORE raw = try_import(pfx, password ? password : L"");
    if (!raw && !password) {
        SetLastError(0);
        raw = try_import(pfx, nullptr);
    }
    if (!raw) throw_import_failure(pfx, GetLastError());
    import_containers made;  // after the store is closed, so that its providers have written their keys
    auto_cert_store store(raw);

    cert_list out;
    PCCERT_CONTEXT c = nullptr;
    while ((c = CertEnumCertificatesInStore(raw, c))) {
        cert_record record(hold_cert_context(c));
        try {
            move_key_to_own_container(record.get(), made);
        } catch (...) {
            CertFreeCertificateContext(c);
            throw;
        }
        out.push_back(std::move(record));
    }
    made.keep();
    return out;
}

cert_list read_and_import_pfx(const wchar_t* path, const wchar_t* password) {
    byte_buffer bytes;
    read_file(path, bytes);
    return import_pfx(bytes, password);
}

void delete_key_container(const cert_record& cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return;
    byte_buffer data(size);
    check_win(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size));
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    if (!delete_container(info->pwszContainerName, info->pwszProvName, info->dwProvType, info->dwFlags))
        throw_last_error();
    CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr);
}

}  // namespace tools
