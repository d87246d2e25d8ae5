// Stands in for PFXExportCertStoreEx, a stub in Wine: writes a password-protected PKCS#12 blob itself.
#include "pfx_export.h"

#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

namespace platform {
namespace {

// Memory that held key material is wiped before it goes back to the heap, also when a growing buffer moves.
template <class T>
struct wiping_allocator {
    using value_type = T;
    wiping_allocator() noexcept = default;
    template <class U>
    wiping_allocator(const wiping_allocator<U>&) noexcept {}
    T* allocate(size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, size_t n) noexcept {
        SecureZeroMemory(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    bool operator==(const wiping_allocator<U>&) const noexcept { return true; }
};

// Every buffer of the writer is of this one type: the password, the keys derived from it and the private key's
// plain encoding pass through DER pieces, hashes and temporaries alike.
using bytes = std::vector<unsigned char, wiping_allocator<unsigned char>>;

constexpr DWORD kdf_rounds = 2048;
constexpr size_t salt_size = 8;

struct failure {
    DWORD code;
};

[[noreturn]] void fail(DWORD code) { throw failure{code}; }

void check(BOOL ok) {
    if (!ok) {
        DWORD code = GetLastError();
        fail(code ? code : static_cast<DWORD>(NTE_FAIL));
    }
}

// ---- DER ------------------------------------------------------------------------------------------------

bytes tlv(unsigned char tag, const bytes& content) {
    size_t n = content.size();
    bytes out;
    out.reserve(2 + sizeof(size_t) + n);
    out.push_back(tag);
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        unsigned char len[sizeof(size_t)];
        int count = 0;
        for (size_t rest = n; rest; rest >>= 8) len[count++] = static_cast<unsigned char>(rest & 0xFF);
        out.push_back(static_cast<unsigned char>(0x80 | count));
        while (count) out.push_back(len[--count]);
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

bytes concat(std::initializer_list<bytes> parts) {
    size_t n = 0;
    for (const bytes& p : parts) n += p.size();
    bytes out;
    out.reserve(n);
    for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

bytes sequence(std::initializer_list<bytes> parts) { return tlv(0x30, concat(parts)); }
bytes set_of(std::initializer_list<bytes> parts) { return tlv(0x31, concat(parts)); }
bytes octets(const bytes& content) { return tlv(0x04, content); }
bytes explicit0(const bytes& content) { return tlv(0xA0, content); }
bytes null_value() { return {0x05, 0x00}; }

// A non-negative integer given by its big-endian magnitude.
bytes integer(const unsigned char* magnitude, size_t n) {
    while (n > 1 && magnitude[0] == 0) ++magnitude, --n;
    bytes content;
    content.reserve(n + 1);
    if (n == 0 || (magnitude[0] & 0x80)) content.push_back(0);
    content.insert(content.end(), magnitude, magnitude + n);
    return tlv(0x02, content);
}

bytes integer(unsigned long value) {
    unsigned char be[sizeof(value)];
    for (size_t i = 0; i < sizeof(value); ++i) be[i] = static_cast<unsigned char>(value >> (8 * (sizeof(value) - 1 - i)));
    return integer(be, sizeof(value));
}

bytes oid(const char* dotted) {
    std::vector<unsigned long> arcs;
    unsigned long arc = 0;
    for (const char* p = dotted;; ++p) {
        if (*p == '.' || *p == 0) {
            arcs.push_back(arc);
            arc = 0;
            if (*p == 0) break;
        } else {
            arc = arc * 10 + static_cast<unsigned long>(*p - '0');
        }
    }
    bytes content;
    auto base128 = [&content](unsigned long v) {
        unsigned char tmp[10];
        int count = 0;
        do {
            tmp[count++] = static_cast<unsigned char>(v & 0x7F);
            v >>= 7;
        } while (v);
        while (count > 1) content.push_back(static_cast<unsigned char>(tmp[--count] | 0x80));
        content.push_back(tmp[0]);
    };
    base128(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) base128(arcs[i]);
    return tlv(0x06, content);
}

const char* const oid_data = "1.2.840.113549.1.7.1";
const char* const oid_encrypted_data = "1.2.840.113549.1.7.6";
const char* const oid_pbe_sha1_3des = "1.2.840.113549.1.12.1.3";
const char* const oid_shrouded_key_bag = "1.2.840.113549.1.12.10.1.2";
const char* const oid_cert_bag = "1.2.840.113549.1.12.10.1.3";
const char* const oid_x509_certificate = "1.2.840.113549.1.9.22.1";
const char* const oid_local_key_id = "1.2.840.113549.1.9.21";
const char* const oid_rsa_encryption = "1.2.840.113549.1.1.1";
const char* const oid_sha1 = "1.3.14.3.2.26";

// ---- CryptoAPI primitives -------------------------------------------------------------------------------

class provider {
public:
    provider() {
        if (!CryptAcquireContextW(&handle_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
            check(CryptAcquireContextW(&handle_, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                       CRYPT_VERIFYCONTEXT | CRYPT_SILENT));
    }
    ~provider() { CryptReleaseContext(handle_, 0); }
    provider(const provider&) = delete;
    provider& operator=(const provider&) = delete;
    HCRYPTPROV get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class key {
public:
    ~key() {
        if (handle_) CryptDestroyKey(handle_);
    }
    HCRYPTKEY* out() { return &handle_; }
    HCRYPTKEY get() const { return handle_; }

private:
    HCRYPTKEY handle_ = 0;
};

class hash {
public:
    hash(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY k = 0) { check(CryptCreateHash(prov, alg, k, 0, &handle_)); }
    ~hash() { CryptDestroyHash(handle_); }
    hash(const hash&) = delete;
    hash& operator=(const hash&) = delete;
    HCRYPTHASH get() const { return handle_; }
    void add(const bytes& data) {
        check(CryptHashData(handle_, data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()), 0));
    }
    bytes value() {
        DWORD size = 0, len = sizeof(size);
        check(CryptGetHashParam(handle_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &len, 0));
        bytes out(size);
        check(CryptGetHashParam(handle_, HP_HASHVAL, out.data(), &size, 0));
        out.resize(size);
        return out;
    }

private:
    HCRYPTHASH handle_ = 0;
};

bytes sha1(const provider& prov, const bytes& data) {
    hash h(prov.get(), CALG_SHA1);
    h.add(data);
    return h.value();
}

bytes random_bytes(const provider& prov, size_t n) {
    bytes out(n);
    check(CryptGenRandom(prov.get(), static_cast<DWORD>(n), out.data()));
    return out;
}

// A raw symmetric key brought in as a plain-text key blob.
void import_plain_key(const provider& prov, ALG_ID alg, const bytes& material, DWORD flags, key& k) {
    bytes blob(sizeof(BLOBHEADER) + sizeof(DWORD) + material.size());
    BLOBHEADER header{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, alg};
    DWORD size = static_cast<DWORD>(material.size());
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), &size, sizeof(size));
    std::memcpy(blob.data() + sizeof(header) + sizeof(size), material.data(), material.size());
    check(CryptImportKey(prov.get(), blob.data(), static_cast<DWORD>(blob.size()), 0, flags, k.out()));
}

bytes hmac_sha1(const provider& prov, const bytes& mac_key, const bytes& data) {
    key k;
    import_plain_key(prov, CALG_RC2, mac_key, CRYPT_IPSEC_HMAC_KEY, k);
    hash h(prov.get(), CALG_HMAC, k.get());
    HMAC_INFO info{};
    info.HashAlgid = CALG_SHA1;
    check(CryptSetHashParam(h.get(), HP_HMAC_INFO, reinterpret_cast<BYTE*>(&info), 0));
    h.add(data);
    return h.value();
}

bytes des3_cbc_encrypt(const provider& prov, const bytes& key_material, const bytes& iv, const bytes& plain) {
    key k;
    import_plain_key(prov, CALG_3DES, key_material, 0, k);
    check(CryptSetKeyParam(k.get(), KP_IV, iv.data(), 0));
    DWORD mode = CRYPT_MODE_CBC;
    check(CryptSetKeyParam(k.get(), KP_MODE, reinterpret_cast<BYTE*>(&mode), 0));
    bytes out(plain);
    out.resize(plain.size() + 8);
    DWORD len = static_cast<DWORD>(plain.size());
    check(CryptEncrypt(k.get(), 0, TRUE, 0, out.data(), &len, static_cast<DWORD>(out.size())));
    out.resize(len);
    return out;
}

// ---- PKCS#12 key derivation (SHA-1: u = 20, v = 64) --------------------------------------------------------

enum class purpose : unsigned char { cipher_key = 1, cipher_iv = 2, mac_key = 3 };

bytes derive(const provider& prov, purpose id, const bytes& password, const bytes& salt, DWORD rounds, size_t n) {
    constexpr size_t v = 64;
    auto stretch = [](const bytes& src) {
        bytes out;
        if (src.empty()) return out;
        size_t len = v * ((src.size() + v - 1) / v);
        out.reserve(len);
        for (size_t i = 0; i < len; ++i) out.push_back(src[i % src.size()]);
        return out;
    };
    bytes stretched_password = stretch(password);
    bytes input = stretch(salt);
    input.reserve(input.size() + stretched_password.size());
    input.insert(input.end(), stretched_password.begin(), stretched_password.end());
    const bytes diversifier(v, static_cast<unsigned char>(id));

    bytes result;
    result.reserve(n + 20);  // whole SHA-1 blocks
    while (result.size() < n) {
        hash first(prov.get(), CALG_SHA1);
        first.add(diversifier);
        first.add(input);
        bytes a = first.value();
        for (DWORD r = 1; r < rounds; ++r) a = sha1(prov, a);
        result.insert(result.end(), a.begin(), a.end());
        if (result.size() >= n) break;
        // Each v-byte block of the input becomes (block + B + 1) mod 2^(8v), B being a repeated to v bytes.
        for (size_t block = 0; block < input.size(); block += v) {
            unsigned carry = 1;
            for (size_t i = v; i-- > 0;) {
                carry += input[block + i] + a[i % a.size()];
                input[block + i] = static_cast<unsigned char>(carry & 0xFF);
                carry >>= 8;
            }
        }
    }
    result.erase(result.begin() + n, result.end());
    return result;
}

// The password as PKCS#12 wants it: big-endian UTF-16 with a two-byte terminator.
bytes bmp_password(const wchar_t* password) {
    bytes out;
    out.reserve(2 * wcslen(password ? password : L"") + 2);
    for (const wchar_t* p = password ? password : L""; *p; ++p) {
        out.push_back(static_cast<unsigned char>((*p >> 8) & 0xFF));
        out.push_back(static_cast<unsigned char>(*p & 0xFF));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

struct sealed {
    bytes algorithm;  // AlgorithmIdentifier with its salt and round count
    bytes data;
};

sealed pbe_encrypt(const provider& prov, const bytes& password, const bytes& plain) {
    bytes salt = random_bytes(prov, salt_size);
    bytes k = derive(prov, purpose::cipher_key, password, salt, kdf_rounds, 24);
    bytes iv = derive(prov, purpose::cipher_iv, password, salt, kdf_rounds, 8);
    return {sequence({oid(oid_pbe_sha1_3des), sequence({octets(salt), integer(kdf_rounds)})}),
            des3_cbc_encrypt(prov, k, iv, plain)};
}

// ---- The key of a certificate --------------------------------------------------------------------------

class key_container {
public:
    ~key_container() {
        if (handle_) CryptReleaseContext(handle_, 0);
    }
    HCRYPTPROV* out() { return &handle_; }
    HCRYPTPROV get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

// PKCS#1 RSAPrivateKey from CryptoAPI's private key blob (little-endian numbers after the headers).
bytes rsa_private_key_der(const bytes& blob) {
    if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) fail(static_cast<DWORD>(NTE_BAD_KEY));
    RSAPUBKEY info;
    std::memcpy(&info, blob.data() + sizeof(BLOBHEADER), sizeof(info));
    const size_t n = info.bitlen / 8, h = info.bitlen / 16;
    if (info.magic != 0x32415352 /* RSA2 */ || blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 2 * n + 5 * h)
        fail(static_cast<DWORD>(NTE_BAD_KEY));
    const unsigned char* p = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    auto number = [&p](size_t len) {
        bytes be(p, p + len);
        for (size_t i = 0; i < len / 2; ++i) std::swap(be[i], be[len - 1 - i]);
        p += len;
        return bytes(integer(be.data(), be.size()));
    };
    bytes modulus = number(n), prime1 = number(h), prime2 = number(h), exponent1 = number(h),
           exponent2 = number(h), coefficient = number(h), private_exponent = number(n);
    return bytes(sequence({integer(0ul), modulus, integer(info.pubexp), private_exponent, prime1, prime2, exponent1,
                            exponent2, coefficient}));
}

// The PKCS#8 PrivateKeyInfo of the certificate's key, or nothing when the certificate names no key.
bool private_key_info(PCCERT_CONTEXT cert, bytes& out) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        if (GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return false;
        check(FALSE);
    }
    bytes info_bytes(size);
    check(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info_bytes.data(), &size));
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info_bytes.data());

    key_container container;
    check(CryptAcquireContextW(container.out(), info->pwszContainerName, info->pwszProvName, info->dwProvType,
                               info->dwFlags & CRYPT_MACHINE_KEYSET));
    key k;
    if (info->dwKeySpec == AT_KEYEXCHANGE || info->dwKeySpec == AT_SIGNATURE) {
        check(CryptGetUserKey(container.get(), info->dwKeySpec, k.out()));
    } else if (!CryptGetUserKey(container.get(), AT_KEYEXCHANGE, k.out())) {
        check(CryptGetUserKey(container.get(), AT_SIGNATURE, k.out()));
    }
    DWORD len = 0;
    check(CryptExportKey(k.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &len));
    bytes blob(len);
    check(CryptExportKey(k.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &len));
    blob.resize(len);
    bytes rsa = rsa_private_key_der(blob);
    out = bytes(sequence({integer(0ul), sequence({oid(oid_rsa_encryption), null_value()}), octets(rsa)}));
    return true;
}

// ---- The file ---------------------------------------------------------------------------------------------

bytes local_key_id_attributes(const bytes& id) {
    return set_of({sequence({oid(oid_local_key_id), set_of({octets(id)})})});
}

bytes build(HCERTSTORE store, const wchar_t* password_text) {
    provider prov;
    bytes password = bmp_password(password_text);
    bytes cert_bags, key_bags;

    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        bytes encoded(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
        bytes pkcs8;
        bool has_key;
        try {
            has_key = private_key_info(cert, pkcs8);
        } catch (...) {
            CertFreeCertificateContext(cert);
            throw;
        }
        bytes attributes;
        if (has_key) {
            // The same identifier on both bags pairs the key with its certificate.
            attributes = local_key_id_attributes(sha1(prov, encoded));
            sealed shrouded = pbe_encrypt(prov, password, pkcs8);
            bytes bag = sequence({oid(oid_shrouded_key_bag),
                                  explicit0(sequence({shrouded.algorithm, octets(shrouded.data)})), attributes});
            key_bags.insert(key_bags.end(), bag.begin(), bag.end());
        }
        bytes bag = sequence({oid(oid_cert_bag),
                              explicit0(sequence({oid(oid_x509_certificate), explicit0(octets(encoded))})),
                              attributes});
        cert_bags.insert(cert_bags.end(), bag.begin(), bag.end());
    }
    DWORD end = GetLastError();
    if (end != static_cast<DWORD>(CRYPT_E_NOT_FOUND) && end != ERROR_NO_MORE_FILES && end != 0) fail(end);

    sealed certs = pbe_encrypt(prov, password, tlv(0x30, cert_bags));
    bytes safes = sequence({oid(oid_encrypted_data),
                            explicit0(sequence({integer(0ul), sequence({oid(oid_data), certs.algorithm,
                                                                          tlv(0x80, certs.data)})}))});
    if (!key_bags.empty()) {
        bytes keys = sequence({oid(oid_data), explicit0(octets(tlv(0x30, key_bags)))});
        safes.insert(safes.end(), keys.begin(), keys.end());
    }
    bytes authenticated_safe = tlv(0x30, safes);

    bytes mac_salt = random_bytes(prov, salt_size);
    bytes mac_key = derive(prov, purpose::mac_key, password, mac_salt, kdf_rounds, 20);
    bytes mac = hmac_sha1(prov, mac_key, authenticated_safe);

    return sequence({integer(3ul), sequence({oid(oid_data), explicit0(octets(authenticated_safe))}),
                     sequence({sequence({sequence({oid(oid_sha1), null_value()}), octets(mac)}), octets(mac_salt),
                               integer(kdf_rounds)})});
}

}  // namespace

bool write_pfx(HCERTSTORE store, const wchar_t* password, std::vector<unsigned char>& blob) {
    try {
        bytes built = build(store, password);
        blob.assign(built.begin(), built.end());
        return true;
    } catch (const failure& f) {
        SetLastError(f.code);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(static_cast<DWORD>(NTE_FAIL));
    }
    return false;
}

bool export_pfx(HCERTSTORE store, const wchar_t* password, std::vector<unsigned char>& blob) {
    const wchar_t* text = password ? password : L"";
    CRYPT_DATA_BLOB out{};
    if (PFXExportCertStoreEx(store, &out, text, nullptr, EXPORT_PRIVATE_KEYS) && out.cbData) {
        std::vector<unsigned char> buffer(out.cbData);
        out.pbData = buffer.data();
        if (PFXExportCertStoreEx(store, &out, text, nullptr, EXPORT_PRIVATE_KEYS)) {
            buffer.resize(out.cbData);
            blob.swap(buffer);
            return true;
        }
    }
    return write_pfx(store, password, blob);
}

}  // namespace platform
