#include "pfx_fixtures.h"

#include <doctest.h>
#include <tools/certificates.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>

#include <vector>

using testing::fixture_bytes;
using testing::fixture_password;

namespace {
DWORD import_error(const wchar_t* file, const wchar_t* password) {
    try {
        tools::import_pfx(fixture_bytes(file), password);
    } catch (const tools::win_except& e) {
        return e.code();
    }
    return 0;
}
}  // namespace

TEST_CASE("an imported key lives in a container of its own, named on its certificate") {
    testing::imported_keys certs(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
    REQUIRE(certs.size() == 1);
    DWORD spec = 0;
    std::wstring container = testing::prov_info_container(certs[0].get(), &spec);
    CHECK(spec == AT_KEYEXCHANGE);
    REQUIRE(container.size() == 38);
    CHECK(container.front() == L'{');
    // That container is the only place the key is kept: the platform's import leaves no copy behind.
    CHECK(testing::containers_holding_key_of(certs[0].get()) == std::set<std::wstring>{container});

    // The same file imported again gets a second container; deleting one leaves the other.
    testing::imported_keys again(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
    std::wstring second = testing::prov_info_container(again[0].get());
    CHECK(second != container);
    tools::delete_key_container(certs[0]);
    CHECK_FALSE(testing::container_exists(container.c_str()));
    CHECK(testing::prov_info_container(certs[0].get()).empty());
    CHECK(testing::container_holds_key_of(second, again[0].get()));
    tools::delete_key_container(again[0]);
    CHECK_FALSE(testing::container_exists(second.c_str()));
    // A certificate without key information is left alone.
    CHECK_NOTHROW(tools::delete_key_container(certs[0]));
}

TEST_CASE("once the imported certificates are gone and their containers deleted, no copy of the key is left") {
    PCCERT_CONTEXT bare = nullptr;
    {
        testing::imported_keys certs(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
        REQUIRE(certs.size() == 1);
        // A context of its own, which shares no properties (and no provider) with the imported one.
        bare = CertCreateCertificateContext(X509_ASN_ENCODING, certs[0].get()->pbCertEncoded, certs[0].get()->cbCertEncoded);
    }
    REQUIRE(bare);
    tools::auto_cert_context held(bare);
    CHECK(testing::containers_holding_key_of(held.get()).empty());
}

TEST_CASE("two imports of different keys keep both keys usable") {
    testing::imported_keys a(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
    testing::imported_keys b(tools::import_pfx(fixture_bytes(L"legacy.pfx"), fixture_password));
    REQUIRE(a.size() == 1);
    REQUIRE(b.size() == 1);
    tools::byte_buffer data(16);
    for (int i = 0; i < 16; ++i) data[i] = static_cast<unsigned char>(i * 17 + 3);
    for (auto* list : {&a, &b}) {
        tools::byte_buffer sealed = tools::rsa_encrypt((*list)[0], data);
        CHECK(sealed.size() == 256);
        CHECK(tools::rsa_decrypt((*list)[0], sealed) == data);
    }
    // Each key opens only what was sealed for it.
    tools::byte_buffer for_a = tools::rsa_encrypt(a[0], data);
    CHECK_THROWS_AS(tools::rsa_decrypt(b[0], for_a), tools::win_except);
}

TEST_CASE("the imported key opens what the host's openssl sealed with the certificate's public key") {
    testing::imported_keys a(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
    REQUIRE(a.size() == 1);
    tools::byte_buffer sealed = fixture_bytes(L"cipher_a.bin");
    std::reverse(sealed.begin(), sealed.end());  // openssl writes big-endian, CryptoAPI reads little-endian
    tools::byte_buffer plain = tools::rsa_decrypt(a[0], sealed);
    CHECK(std::string(plain.begin(), plain.end()) == "Orrisafe-16bytes");
}

TEST_CASE("passwords: empty, absent, wrong") {
    SUBCASE("a file made with the empty password imports with no password and with the empty one") {
        for (const wchar_t* password : {static_cast<const wchar_t*>(nullptr), L""}) {
            testing::imported_keys c(tools::import_pfx(fixture_bytes(L"empty.pfx"), password));
            REQUIRE(c.size() == 1);
            CHECK(testing::container_holds_key_of(testing::prov_info_container(c[0].get()), c[0].get()));
        }
    }
    SUBCASE("a file without any protection imports with no password") {
        testing::imported_keys c(tools::import_pfx(fixture_bytes(L"open.pfx"), nullptr));
        REQUIRE(c.size() == 1);
    }
    SUBCASE("a wrong or missing password is a clear error and leaves no container") {
        CHECK(import_error(L"password.pfx", L"wrong") == ERROR_INVALID_PASSWORD);
        CHECK(import_error(L"password.pfx", nullptr) == ERROR_INVALID_PASSWORD);
        CHECK(import_error(L"legacy.pfx", L"orri-pass1") == ERROR_INVALID_PASSWORD);
        CHECK(import_error(L"empty.pfx", L"x") == ERROR_INVALID_PASSWORD);
        // Look for the key by what it is, not by counting: other tests may make containers meanwhile.
        testing::imported_keys right(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
        std::wstring mine = testing::prov_info_container(right[0].get());
        CHECK(testing::containers_holding_key_of(right[0].get()) == std::set<std::wstring>{mine});
    }
    SUBCASE("bytes that are no PKCS#12 say so") {
        CHECK(import_error(L"garbage.pfx", nullptr) == static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
        CHECK_THROWS_AS(tools::import_pfx(tools::byte_buffer{}, nullptr), tools::win_except);
    }
}

TEST_CASE("read_and_import_pfx reads the file and imports it") {
    testing::imported_keys c(tools::read_and_import_pfx(testing::fixture_path(L"legacy.pfx").c_str(), fixture_password));
    REQUIRE(c.size() == 1);
    CHECK(testing::container_holds_key_of(testing::prov_info_container(c[0].get()), c[0].get()));
    try {
        tools::read_and_import_pfx(testing::fixture_path(L"missing.pfx").c_str(), fixture_password);
        FAIL("a missing file imported");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == ERROR_FILE_NOT_FOUND);
    }
}

// Run only as a child of the next case (doctest's --no-skip): imports and uses two keys a few times.
TEST_CASE("imports in a child process" * doctest::skip()) {
    tools::byte_buffer data(16, 0x5A);
    for (int round = 0; round < 4; ++round) {
        testing::imported_keys a(tools::import_pfx(fixture_bytes(L"password.pfx"), fixture_password));
        testing::imported_keys b(tools::import_pfx(fixture_bytes(L"legacy.pfx"), fixture_password));
        REQUIRE(a.size() == 1);
        REQUIRE(b.size() == 1);
        CHECK(tools::rsa_decrypt(a[0], tools::rsa_encrypt(a[0], data)) == data);
        CHECK(tools::rsa_decrypt(b[0], tools::rsa_encrypt(b[0], data)) == data);
        tools::delete_key_container(a[0]);
        tools::delete_key_container(b[0]);
    }
}

TEST_CASE("imports in several processes at the same moment each get their own keys") {
    wchar_t self[MAX_PATH];
    REQUIRE(GetModuleFileNameW(nullptr, self, MAX_PATH) > 0);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --no-skip -tc=\"imports in a child process\"";
    std::vector<PROCESS_INFORMATION> children;
    for (int i = 0; i < 4; ++i) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        std::wstring line = command;
        REQUIRE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        children.push_back(pi);
    }
    for (auto& pi : children) {
        CHECK(WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CHECK(code == 0);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}
