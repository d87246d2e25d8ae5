#include <doctest.h>
#include <tools/auto_handle.h>
#include <tools/win_except.h>

#include <cstring>
#include <type_traits>

static_assert(!std::is_copy_constructible_v<tools::auto_reg_key>, "registry keys cannot be duplicated");
static_assert(!std::is_copy_assignable_v<tools::auto_service_handle>, "service handles cannot be duplicated");
static_assert(std::is_nothrow_move_constructible_v<tools::auto_reg_key>);

namespace {
HANDLE new_event() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
bool signalled(HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }
}  // namespace

TEST_CASE("a copied kernel handle is a second, inheritable handle to the same object") {
    tools::auto_kernel_handle original(new_event());
    REQUIRE(original);
    tools::auto_kernel_handle copy(original);
    REQUIRE(copy);
    CHECK(copy.get() != original.get());
    DWORD flags = 0;
    REQUIRE(GetHandleInformation(copy.get(), &flags));
    CHECK((flags & HANDLE_FLAG_INHERIT) != 0);

    SetEvent(original.get());
    CHECK(signalled(copy.get()));
    // Closing one leaves the other working.
    CHECK(original.release() == TRUE);
    CHECK(original.empty());
    ResetEvent(copy.get());
    CHECK_FALSE(signalled(copy.get()));
    CHECK(SetEvent(copy.get()));

    // Copying an empty holder gives an empty holder; releasing one frees nothing.
    tools::auto_kernel_handle empty;
    tools::auto_kernel_handle empty_copy(empty);
    CHECK(empty_copy.empty());
    CHECK(empty.release() == FALSE);
}

TEST_CASE("assignment, self-assignment, take_over and moves") {
    tools::auto_kernel_handle a(new_event());
    HANDLE a_raw = a.get();
    a = a;
    CHECK(a.get() == a_raw);
    CHECK(SetEvent(a.get()));  // still open

    // A named object vanishes once its only handle is closed: that shows the target's old value was freed.
    const wchar_t* name = L"orri-holder-test-event";
    tools::auto_kernel_handle b(CreateEventW(nullptr, TRUE, FALSE, name));
    REQUIRE(b);
    b = a;
    CHECK(b.get() != a.get());
    CHECK(signalled(b.get()));  // b now names a's event
    CHECK(OpenEventW(SYNCHRONIZE, FALSE, name) == nullptr);

    HANDLE fresh = new_event();
    b.take_over(fresh);
    CHECK(b.get() == fresh);
    CHECK_FALSE(signalled(b.get()));
    b.take_over(nullptr);
    CHECK(b.empty());

    tools::auto_kernel_handle moved(std::move(a));
    CHECK(a.empty());
    CHECK(moved.get() == a_raw);
    HANDLE raw = moved.detach();
    CHECK(moved.empty());
    CHECK(CloseHandle(raw));  // detach gave ownership back
}

TEST_CASE("a copied local-memory block has the source's size and flags, not its contents") {
    HLOCAL raw = LocalAlloc(LMEM_FIXED, 333);
    REQUIRE(raw);
    std::memset(raw, 0xA5, 333);
    tools::auto_local_memory original(raw);
    tools::auto_local_memory copy(original);
    REQUIRE(copy);
    CHECK(copy.get() != original.get());
    CHECK(LocalSize(copy.get()) == LocalSize(original.get()));
    CHECK(LocalFlags(copy.get()) == LocalFlags(original.get()));
    CHECK(copy.release() == nullptr);  // LocalFree's success

    HLOCAL moveable = LocalAlloc(LMEM_MOVEABLE, 40);
    tools::auto_local_memory m(moveable);
    tools::auto_local_memory m_copy(m);
    CHECK(LocalSize(m_copy.get()) == 40);
    // A block that is no block is a failure of the duplicate policy.
    CHECK_THROWS_AS(tools::local_memory_policy::duplicate(reinterpret_cast<HLOCAL>(static_cast<ULONG_PTR>(0x1234))),
                    tools::win_except);
}

TEST_CASE("copies of provider, key, store, chain and icon holders outlive their originals") {
    HCRYPTPROV raw = 0;
    REQUIRE(CryptAcquireContextW(&raw, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    tools::auto_crypt_prov prov(raw);
    tools::auto_crypt_prov prov_copy(prov);
    CHECK(prov_copy.get() == prov.get());  // the same handle, one more reference
    prov.reset();
    HCRYPTKEY raw_key = 0;
    REQUIRE(CryptGenKey(prov_copy.get(), CALG_3DES, 0, &raw_key));  // the provider is still usable
    tools::auto_crypt_key key(raw_key);
    tools::auto_crypt_key key_copy(key);
    CHECK(key_copy.get() != key.get());
    key.reset();
    BYTE block[16] = "seven..";
    DWORD length = 8;
    CHECK(CryptEncrypt(key_copy.get(), 0, TRUE, 0, block, &length, sizeof(block)));

    tools::auto_cert_store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    tools::auto_cert_store store_copy(store);
    store.reset();
    BYTE name[256];
    DWORD name_size = sizeof(name);
    REQUIRE(CertStrToNameW(X509_ASN_ENCODING, L"CN=Holder Test", CERT_X500_NAME_STR, nullptr, name, &name_size, nullptr));
    CERT_NAME_BLOB subject{name_size, name};
    tools::auto_cert_context cert(CertCreateSelfSignCertificate(0, &subject, 0, nullptr, nullptr, nullptr, nullptr, nullptr));
    REQUIRE(cert);
    CHECK(CertAddCertificateContextToStore(store_copy.get(), cert.get(), CERT_STORE_ADD_NEW, nullptr));

    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT raw_chain = nullptr;
    REQUIRE(CertGetCertificateChain(nullptr, cert.get(), nullptr, nullptr, &para, 0, nullptr, &raw_chain));
    tools::auto_cert_chain chain(raw_chain);
    tools::auto_cert_chain chain_copy(chain);
    chain.reset();
    CHECK(chain_copy.get()->cChain >= 1);

    tools::auto_icon icon(CopyIcon(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION))));
    REQUIRE(icon);
    tools::auto_icon icon_copy(icon);
    CHECK(icon_copy.get() != icon.get());
    CHECK(icon.release() == TRUE);
    ICONINFO info{};
    CHECK(GetIconInfo(icon_copy.get(), &info));
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
}

TEST_CASE("registry and service holders free what they hold") {
    HKEY raw = nullptr;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &raw) == ERROR_SUCCESS);
    tools::auto_reg_key key(raw);
    CHECK(key.release() == ERROR_SUCCESS);
    CHECK(key.empty());

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    REQUIRE(manager);
    tools::auto_service_handle scm(manager);
    tools::auto_service_handle moved(std::move(scm));
    CHECK(scm.empty());
    CHECK(moved.release() == TRUE);
}
