#include "key_certificate.h"

#include <platform/pfx_export.h>
#include <tools/certificates.h>
#include <tools/win_except.h>

#include <string>

namespace {

const wchar_t* const key_provider = L"Microsoft Strong Cryptographic Provider";
constexpr DWORD cert_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// 2048 bits in the high word; exportable, with salt.
constexpr DWORD key_flags = (2048u << 16) | CRYPT_EXPORTABLE | CRYPT_CREATE_SALT;
constexpr DWORD subject_string_type = CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG;
char sha1_rsa_oid[] = szOID_OIWSEC_sha1RSASign;  // "1.3.14.3.2.29"

// The new key's container, deleted when this goes (once it was made), whether the creation worked or not.
class transient_container {
public:
    explicit transient_container(const std::wstring& name) : name_(name) {}
    ~transient_container() {
        HCRYPTPROV unused = 0;
        if (made_) CryptAcquireContextW(&unused, name_.c_str(), key_provider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    }
    void made() { made_ = true; }
    transient_container(const transient_container&) = delete;
    transient_container& operator=(const transient_container&) = delete;

private:
    std::wstring name_;
    bool made_ = false;
};

// Whether every part of the key's private blob fills its field. Wine's PKCS#12 import misplaces a part
// that is shorter than its field (about one key in sixty has one), and the key read back from such a
// key file then opens nothing; keys made here avoid them, so every key file we write opens again.
bool every_part_full_length(HCRYPTKEY key) {
    DWORD size = 0;
    tools::check_win(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    tools::byte_buffer blob(size);
    tools::check_win(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
    struct wipe {
        tools::byte_buffer& bytes;
        ~wipe() { SecureZeroMemory(bytes.data(), bytes.size()); }
    } wipe_blob{blob};
    if (size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return false;
    const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    const size_t whole = rsa->bitlen / 8, half = rsa->bitlen / 16;
    // Little-endian parts after the header: modulus, prime1, prime2, exponent1, exponent2, coefficient,
    // private exponent; a part is short when its most significant byte is zero.
    const size_t lengths[] = {whole, half, half, half, half, half, whole};
    size_t offset = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    for (size_t length : lengths) {
        offset += length;
        if (offset > size || blob[offset - 1] == 0) return false;
    }
    return true;
}

tools::auto_crypt_prov acquire_container(const std::wstring& name, DWORD flags) {
    HCRYPTPROV raw = 0;
    tools::check_win(CryptAcquireContextW(&raw, name.c_str(), key_provider, PROV_RSA_FULL, flags));
    return tools::auto_crypt_prov(raw);
}

// A value inside double quotes, its own quotes doubled, is taken literally: a leading '"' or '#', a '+', ','
// or ';' stays part of the value instead of being read as name syntax. Lines are separated by CR LF; none
// follows the last one, since Wine's parser never returns from a trailing separator (the encoding is the same).
void append_line(std::wstring& text, const wchar_t* prefix, const wchar_t* value) {
    if (!value) return;
    if (!text.empty()) text += L"\r\n";
    text += prefix;
    text += L'"';
    for (const wchar_t* p = value; *p; ++p) {
        if (*p == L'"') text += L'"';
        text += *p;
    }
    text += L'"';
}

std::wstring subject_text(const KeyCertificateRequest& r) {
    std::wstring text;
    append_line(text, L"C=", r.country);
    append_line(text, L"CN=", r.common_name);
    append_line(text, L"L=", r.locality);
    append_line(text, L"O=", r.organization);
    append_line(text, L"OU=", r.organizational_unit);
    append_line(text, L"E=", r.email);
    append_line(text, L"S=", r.state);
    append_line(text, L"STREET=", r.street);
    append_line(text, L"T=", r.title);
    append_line(text, L"G=", r.given_name);
    append_line(text, L"I=", r.initials);
    append_line(text, L"SN=", r.surname);
    append_line(text, L"DC=", r.domain_component);
    return text;
}

tools::byte_buffer encode_subject(const KeyCertificateRequest& request) {
    std::wstring text = subject_text(request);
    DWORD size = 0;
    tools::check_win(CertStrToNameW(X509_ASN_ENCODING, text.c_str(), subject_string_type, nullptr, nullptr, &size,
                                    nullptr));
    tools::byte_buffer encoded(size);
    tools::check_win(CertStrToNameW(X509_ASN_ENCODING, text.c_str(), subject_string_type, nullptr, encoded.data(),
                                    &size, nullptr));
    encoded.resize(size);
    return encoded;
}

tools::byte_buffer export_public_key(HCRYPTPROV provider) {
    DWORD size = 0;
    tools::check_win(CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, cert_encoding, nullptr, &size));
    tools::byte_buffer info(size);
    tools::check_win(CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, cert_encoding,
                                              reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &size));
    return info;
}

FILETIME file_time(const SYSTEMTIME& time) {
    FILETIME out;
    tools::check_win(SystemTimeToFileTime(&time, &out));
    return out;
}

}  // namespace

void CreateKeyCertificate(PCCERT_CONTEXT issuer, const KeyCertificateRequest& request, tools::byte_buffer& pfx) {
    CreateKeyCertificate(issuer, request, tools::new_guid(), pfx);
}

void CreateKeyCertificate(PCCERT_CONTEXT issuer, const KeyCertificateRequest& request, GUID id,
                          tools::byte_buffer& pfx) {
    tools::cert_record issuer_record(tools::hold_cert_context(issuer));
    tools::auto_crypt_prov issuer_provider = tools::acquire_cert_provider(issuer_record);

    const std::wstring container = tools::guid_to_string(id);
    transient_container removal(container);
    tools::auto_crypt_prov provider = acquire_container(container, CRYPT_NEWKEYSET);
    removal.made();
    for (int attempt = 0;; ++attempt) {
        HCRYPTKEY raw_key = 0;
        tools::check_win(CryptGenKey(provider.get(), AT_KEYEXCHANGE, key_flags, &raw_key));
        tools::auto_crypt_key generated(raw_key);
        // A new pair replaces the last one in the container; 64 tries fail only with a broken generator.
        if (every_part_full_length(generated.get())) break;
        if (attempt == 63) throw tools::win_except(static_cast<DWORD>(NTE_FAIL));
    }
    // The new key pair shows to other handles (the export below among them) only once the handle that made
    // it is gone.
    provider.reset();
    provider = acquire_container(container, 0);

    tools::byte_buffer public_key = export_public_key(provider.get());
    tools::byte_buffer subject = encode_subject(request);

    CERT_INFO info{};
    info.dwVersion = CERT_V1;
    info.SerialNumber = {sizeof(id), reinterpret_cast<BYTE*>(&id)};
    info.SignatureAlgorithm.pszObjId = sha1_rsa_oid;
    info.Issuer = issuer->pCertInfo->Subject;
    info.NotBefore = file_time(request.not_before);
    info.NotAfter = file_time(request.not_after);
    info.Subject = {static_cast<DWORD>(subject.size()), subject.data()};
    info.SubjectPublicKeyInfo = *reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(public_key.data());
    info.IssuerUniqueId = issuer->pCertInfo->IssuerUniqueId;

    CRYPT_ALGORITHM_IDENTIFIER algorithm{};
    algorithm.pszObjId = sha1_rsa_oid;
    DWORD size = 0;
    tools::check_win(CryptSignAndEncodeCertificate(issuer_provider.get(), AT_KEYEXCHANGE, cert_encoding,
                                                   X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr, nullptr,
                                                   &size));
    tools::byte_buffer encoded(size);
    tools::check_win(CryptSignAndEncodeCertificate(issuer_provider.get(), AT_KEYEXCHANGE, cert_encoding,
                                                   X509_CERT_TO_BE_SIGNED, &info, &algorithm, nullptr,
                                                   encoded.data(), &size));

    tools::auto_cert_context cert(CertCreateCertificateContext(cert_encoding, encoded.data(), size));
    if (!cert) tools::throw_last_error();

    CRYPT_KEY_PROV_INFO key_info{};
    key_info.pwszContainerName = const_cast<wchar_t*>(container.c_str());
    key_info.pwszProvName = const_cast<wchar_t*>(key_provider);
    key_info.dwProvType = PROV_RSA_FULL;
    key_info.dwFlags = CERT_SET_KEY_CONTEXT_PROP_ID;
    key_info.dwKeySpec = AT_KEYEXCHANGE;
    tools::check_win(CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &key_info));

    tools::auto_cert_store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) tools::throw_last_error();
    tools::check_win(CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_NEW, nullptr));

    tools::byte_buffer blob;
    if (!platform::export_pfx(store.get(), request.password, blob)) tools::throw_last_error();
    pfx.swap(blob);
}
