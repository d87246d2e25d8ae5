#include <doctest.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include <platform/pfx_export.h>
#include <tools/certificates.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <tools/tests/allocation_hooks.h>

#include <algorithm>
#include <vector>

#include "key_test_support.h"

namespace {

tools::byte_buffer export_one(PCCERT_CONTEXT cert, const wchar_t* password) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    REQUIRE(store);
    REQUIRE(CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_NEW, nullptr));
    tools::byte_buffer blob;
    bool ok = platform::write_pfx(store, password, blob);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok) throw tools::win_except(error);
    return blob;
}

// Opens a PKCS#12 blob through the product's import; the key containers it made go with it.
struct imported {
    tools::cert_list certs;
    DWORD error = 0;
    imported(const tools::byte_buffer& blob, const wchar_t* password) {
        try {
            certs = tools::import_pfx(blob, password);
        } catch (const tools::win_except& e) {
            error = e.code();
        }
    }
    ~imported() {
        for (auto& c : certs) tools::delete_key_container(c);
    }
};

// The key's first prime in both byte orders (the key blob's and the PKCS#8 encoding's), 24 bytes of each.
std::vector<std::vector<unsigned char>> first_prime(PCCERT_CONTEXT cert) {
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE provider = 0;
    DWORD spec = 0;
    BOOL free_provider = FALSE;
    REQUIRE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &provider, &spec, &free_provider));
    HCRYPTKEY key = 0;
    REQUIRE(CryptGetUserKey(provider, spec, &key));
    DWORD size = 0;
    REQUIRE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    std::vector<unsigned char> blob(size);
    REQUIRE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
    CryptDestroyKey(key);
    if (free_provider) CryptReleaseContext(provider, 0);
    RSAPUBKEY info;
    std::memcpy(&info, blob.data() + sizeof(BLOBHEADER), sizeof(info));
    const unsigned char* prime = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + info.bitlen / 8;
    std::vector<unsigned char> little(prime, prime + info.bitlen / 16), big(little.rbegin(), little.rend());
    SecureZeroMemory(blob.data(), blob.size());
    little.resize(24);
    big.resize(24);
    return {little, big};
}

}  // namespace

TEST_CASE("the PKCS#12 writer's files open with their password and give back the certificate and its key") {
    keytest::self_signed_key key;
    const wchar_t* password = L"pass w0rd \"+,;#";
    tools::byte_buffer blob = export_one(key.cert(), password);
    keytest::leave_key_file(L"writer", blob, password);

    imported back(blob, password);
    REQUIRE(back.certs.size() == 1);
    PCCERT_CONTEXT cert = back.certs[0].get();
    CHECK(CertCompareCertificate(X509_ASN_ENCODING, cert->pCertInfo, key.cert()->pCertInfo));
    CHECK(keytest::exchange_public_key(tools::acquire_cert_provider(back.certs[0]).get()) == key.public_key());

    SUBCASE("a wrong password opens nothing") {
        imported wrong(blob, L"pass w0rd \"+,");
        CHECK(wrong.certs.empty());
        CHECK(wrong.error == ERROR_INVALID_PASSWORD);
    }
    SUBCASE("each file has its own salts") {
        CHECK(export_one(key.cert(), password) != blob);
    }
}

TEST_CASE("the PKCS#12 writer encodes a password beyond ASCII as PKCS#12 says") {
    // Wine's own import cannot take such a password; host openssl reads this file.
    keytest::self_signed_key key;
    const wchar_t* password = L"p\u00e4ss w\u00f6rd \u20ac";
    keytest::leave_key_file(L"writer-unicode", export_one(key.cert(), password), password);
}

TEST_CASE("the PKCS#12 writer protects with the empty password when none is given") {
    keytest::self_signed_key key;
    tools::byte_buffer blob = export_one(key.cert(), nullptr);
    keytest::leave_key_file(L"writer-empty", blob, L"");
    imported back(blob, L"");
    CHECK(back.certs.size() == 1);
}

TEST_CASE("the PKCS#12 writer refuses a key that may not leave its container") {
    keytest::self_signed_key key(false);
    CHECK_THROWS_AS(export_one(key.cert(), L"secret"), tools::win_except);
}

TEST_CASE("the platform export falls back to our writer where the system cannot export") {
    keytest::self_signed_key key;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    REQUIRE(store);
    REQUIRE(CertAddCertificateContextToStore(store, key.cert(), CERT_STORE_ADD_NEW, nullptr));
    tools::byte_buffer blob;
    bool ok = platform::export_pfx(store, L"secret", blob);
    CertCloseStore(store, 0);
    REQUIRE(ok);
    imported back(blob, L"secret");
    CHECK(back.certs.size() == 1);
}

TEST_CASE("the PKCS#12 writer leaves neither the password nor the private key in the memory it frees") {
    keytest::self_signed_key key;
    const wchar_t* password = L"an unmistakable pass phrase";
    auto patterns = first_prime(key.cert());
    std::vector<unsigned char> password_bytes;  // as the key derivation takes it: big-endian UTF-16
    for (const wchar_t* p = password; *p; ++p) password_bytes.insert(password_bytes.end(), {static_cast<unsigned char>(*p >> 8), static_cast<unsigned char>(*p)});
    patterns.push_back(password_bytes);

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    REQUIRE(store);
    REQUIRE(CertAddCertificateContextToStore(store, key.cert(), CERT_STORE_ADD_NEW, nullptr));
    tools::byte_buffer blob;
    bool written = false;
    int holding = 0;
    {
        testing::freed_memory_watch watch(patterns);
        written = platform::write_pfx(store, password, blob);
        holding = watch.blocks_holding();
    }
    CertCloseStore(store, 0);
    REQUIRE(written);
    CHECK(holding == 0);
    imported back(blob, password);
    CHECK(back.certs.size() == 1);
}
