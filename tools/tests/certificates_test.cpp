#include "pfx_fixtures.h"

#include <doctest.h>
#include <tools/certificates.h>
#include <tools/com_error.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>

#include <atomic>
#include <thread>

using testing::fixture_bytes;
using testing::fixture_password;

namespace {
testing::imported_keys import_keys(const wchar_t* file) {
    return testing::imported_keys(tools::import_pfx(fixture_bytes(file), fixture_password));
}

std::string hex(const tools::byte_buffer& bytes) { return tools::to_narrow(tools::bytes_to_hex(bytes)); }

// Puts the certificate into the user's store and takes it out again at the end.
class in_user_store {
public:
    in_user_store(const wchar_t* store, const tools::cert_record& cert) : store_(store) {
        tools::auto_cert_store s = tools::open_user_store(store);
        PCCERT_CONTEXT added = nullptr;
        tools::check_win(CertAddCertificateContextToStore(s.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING, &added));
        added_.take_over(added);
    }
    ~in_user_store() { remove(); }
    void remove() {
        if (!added_) return;
        tools::auto_cert_store s = tools::open_user_store(store_);
        PCCERT_CONTEXT found = CertFindCertificateInStore(s.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, added_.get(), nullptr);
        if (found) CertDeleteCertificateFromStore(found);  // consumes found
        added_.reset();
    }

private:
    const wchar_t* store_;
    tools::auto_cert_context added_;
};

HRESULT chain_error(const tools::cert_record& cert) {
    try {
        tools::chain_certificates(cert);
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}
}  // namespace

TEST_CASE("hold_cert_context duplicates a context and keeps null empty") {
    CHECK(tools::hold_cert_context(nullptr).empty());
    testing::imported_keys a_keys = import_keys(L"password.pfx");
    REQUIRE(a_keys.size() == 1);
    const tools::cert_record& a = a_keys[0];
    tools::auto_cert_context held = tools::hold_cert_context(a.get());
    CHECK(held.get() == a.get());  // certificate contexts are duplicated by reference
}

TEST_CASE("a certificate record's owner window is not copied") {
    testing::imported_keys a_keys = import_keys(L"password.pfx");
    REQUIRE(a_keys.size() == 1);
    tools::cert_record a = a_keys[0];
    HWND window = GetDesktopWindow();
    a.owner_window = &window;
    tools::cert_record copy(a);
    CHECK(copy.owner_window == nullptr);
    tools::cert_record assigned;
    assigned.owner_window = &window;
    assigned = a;
    CHECK(assigned.owner_window == nullptr);
    // With the owner set, the provider is acquired and told the window.
    tools::auto_crypt_prov prov = tools::acquire_cert_provider(a);
    CHECK(prov);
    CHECK(tools::get_exchange_key(prov));
    prov.reset();
    tools::delete_key_container(a);
    CHECK_THROWS_AS(tools::acquire_cert_provider(a), tools::win_except);  // no key information any more
}

TEST_CASE("chains: an untrusted self-signed root is refused, a trusted one gives its certificates") {
    testing::imported_keys a(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
    CHECK(chain_error(a[0]) == E_ACCESSDENIED);
    // The default chain engine keeps the trusted roots it saw first, so the trusted case runs in a
    // process that starts while the certificate is a trusted root.
    in_user_store trusted(L"Root", a[0]);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"ORRI_TRUSTED_ROOT", testing::fixture_path(L"password.pfx").c_str());
    std::string output;
    DWORD code = testing::run_process(L"\"" + std::wstring(self) + L"\" -tc=\"trusted chain child\"", &output);
    SetEnvironmentVariableW(L"ORRI_TRUSTED_ROOT", nullptr);
    INFO(output);
    CHECK(code == 0);
    CHECK(output.find("1 passed") != std::string::npos);
}

TEST_CASE("trusted chain child") {
    std::wstring pfx = testing::env(L"ORRI_TRUSTED_ROOT");
    if (pfx.empty()) return;  // only as the child of the test above
    testing::imported_keys a(tools::read_and_import_pfx(pfx.c_str(), fixture_password));
    tools::cert_list chain = tools::chain_certificates(a[0]);
    REQUIRE(chain.size() == 1);
    CHECK(CertCompareCertificate(X509_ASN_ENCODING, chain[0].get()->pCertInfo, a[0].get()->pCertInfo));
}

TEST_CASE("key identifiers agree with the host's openssl, with and without the extension") {
    testing::imported_keys a_keys = import_keys(L"password.pfx");
    REQUIRE(a_keys.size() == 1);
    const tools::cert_record& a = a_keys[0];
    testing::imported_keys b_keys = import_keys(L"legacy.pfx");
    REQUIRE(b_keys.size() == 1);
    const tools::cert_record& b = b_keys[0];
    CHECK(hex(tools::cert_key_identifier(a)) == testing::fixture_text(L"keyid_a.hex"));
    CHECK(hex(tools::cert_key_identifier(b)) == testing::fixture_text(L"keyid_b.hex"));
}

TEST_CASE("lookup by key identifier in the user's store, \"not found\", and deletes that stick") {
    testing::imported_keys a_keys = import_keys(L"password.pfx");
    REQUIRE(a_keys.size() == 1);
    const tools::cert_record& a = a_keys[0];
    testing::imported_keys b_keys = import_keys(L"legacy.pfx");
    REQUIRE(b_keys.size() == 1);
    const tools::cert_record& b = b_keys[0];  // version 1: found by the derived identifier
    tools::byte_buffer id_a = tools::cert_key_identifier(a), id_b = tools::cert_key_identifier(b);
    {
        in_user_store my_a(L"MY", a);
        in_user_store my_b(L"MY", b);
        tools::auto_cert_context found_a = tools::find_cert_by_key_identifier(L"MY", id_a);
        tools::auto_cert_context found_b = tools::find_cert_by_key_identifier(L"MY", id_b);
        CHECK(CertCompareCertificate(X509_ASN_ENCODING, found_a.get()->pCertInfo, a.get()->pCertInfo));
        CHECK(CertCompareCertificate(X509_ASN_ENCODING, found_b.get()->pCertInfo, b.get()->pCertInfo));
        // The certificate found in the store still reaches its private key.
        tools::byte_buffer data(16, 0x5C);
        tools::cert_record stored(found_a);
        CHECK(tools::rsa_decrypt(stored, tools::rsa_encrypt(stored, data)) == data);

        my_a.remove();
        try {
            tools::find_cert_by_key_identifier(L"MY", id_a);
            FAIL("a deleted certificate was found");
        } catch (const tools::win_except& e) {
            CHECK(e.code() == static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        }
    }
    tools::byte_buffer unknown(20, 0x42);
    try {
        tools::find_cert_by_key_identifier(L"MY", unknown);
        FAIL("an unknown identifier was found");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    }
    CHECK_THROWS_AS(tools::find_cert_by_key_identifier(L"MY", id_b), tools::win_except);
}

TEST_CASE("RSA: 16 bytes round trip into 256 bytes, and a wrong ciphertext is refused") {
    testing::imported_keys a_keys = import_keys(L"password.pfx");
    REQUIRE(a_keys.size() == 1);
    const tools::cert_record& a = a_keys[0];
    tools::byte_buffer data{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    tools::byte_buffer sealed = tools::rsa_encrypt(a, data);
    CHECK(sealed.size() == 256);
    CHECK(tools::rsa_encrypt(a, data) != sealed);  // PKCS#1 v1.5 padding is random
    CHECK(tools::rsa_decrypt(a, sealed) == data);
    sealed[10] ^= 1;
    CHECK_THROWS_AS(tools::rsa_decrypt(a, sealed), tools::win_except);
}

namespace {
// Closes the first visible dialog and notes that it saw one; a plain function, since a lambda is no
// stdcall callback on x86.
BOOL CALLBACK close_visible_dialog(HWND w, LPARAM seen) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<std::atomic<bool>*>(seen) = true;
    PostMessageW(w, WM_COMMAND, IDOK, 0);
    return FALSE;
}
}  // namespace

TEST_CASE("view_certificate shows the system's certificate dialog") {
    testing::imported_keys a = import_keys(L"password.pfx");
    DWORD thread = GetCurrentThreadId();
    std::atomic<bool> seen{false}, done{false};
    std::thread closer([&] {
        // Closes the first dialog that appears on the test's thread.
        for (int i = 0; i < 400 && !done; ++i, Sleep(50))
            EnumThreadWindows(thread, close_visible_dialog, reinterpret_cast<LPARAM>(&seen));
    });
    bool shown = tools::view_certificate(nullptr, a[0]);
    done = true;
    closer.join();
    CHECK(shown);
    CHECK(seen);
}
