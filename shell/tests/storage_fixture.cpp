#include "storage_fixture.h"

#include <doctest.h>
#include <shlobj.h>
#include <algorithm>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <tools/pfx_import.h>

namespace shell_testing {

std::wstring MakeStorage(const testing::scratch_dir& dir, const std::wstring& name, KeySavingOption option,
                         tools::byte_buffer& pfx) {
    CStorageCreationRequest request;
    request.storage_path = dir.file(name + L".orrisafe");
    request.key_file_path = dir.file(name + L".pfx");
    request.option = option;
    request.common_name = L"Unlock Test";
    request.password = key_password;
    GetLocalTime(&request.end_date);
    request.end_date.wYear = static_cast<WORD>(request.end_date.wYear + 5);
    pfx = CreateStorageAndKey(request);
    return request.storage_path;
}

std::vector<std::wstring> ServerListing(IStorageFolder* folder) {
    std::vector<std::wstring> names;
    auto elements = EnumElementsOrThrow(folder);
    while (auto info = NextOrThrow(elements.get())) names.push_back(GetNameOrThrow(info.get()).text());
    return names;
}

storage_bench::storage_bench() { REQUIRE(installed.ready()); }

installed_key::installed_key(const tools::byte_buffer& pfx) {
    tools::cert_list certs = tools::import_pfx(pfx, key_password);
    REQUIRE(certs.size() == 1);
    cert_ = certs[0];
    PCCERT_CONTEXT added = nullptr;
    REQUIRE(CertAddCertificateContextToStore(tools::open_user_store(L"MY").get(), cert_.get(),
                                             CERT_STORE_ADD_REPLACE_EXISTING, &added));
    added_ = tools::auto_cert_context(added);
}

installed_key::~installed_key() {
    // Wine writes a store's changes when it closes, and deletes only through a store still open.
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    if (PCCERT_CONTEXT in_store = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                             added_.get(), nullptr))
        CertDeleteCertificateFromStore(in_store);
    tools::delete_key_container(cert_);
}

served_storage::served_storage(const std::wstring& name, bool install_key) {
    path = MakeStorage(dir, name, SeparateFile, pfx);
    if (install_key) key = std::make_unique<installed_key>(pfx);
    Connect();
}

served_storage::~served_storage() {
    root.reset();
    if (server) CloseStorageOrThrow(server.get(), path);
}

void served_storage::Connect() {
    server = ConnectServer();
    root = OpenStorageOrThrow(server.get(), path);
    id = GetStorageId(root.get());
}

void served_storage::Write(const std::wstring& relative, size_t size, bool record_digest) {
    const size_t cut = relative.rfind(L'\\');
    auto parent = cut == std::wstring::npos ? root : FindFolder(relative.substr(0, cut));
    auto file = OpenFileOrThrow(parent.get(), relative.substr(cut + 1), VARIANT_TRUE);
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(i * 7);
    ULONG written = 0;
    if (size) GetStreamOrThrow(file.get())->Write(bytes.data(), static_cast<ULONG>(size), &written);
    if (record_digest) SetContentDigest(file.get(), GetDigestOrThrow(file.get()));
}

tools::interface_holder<IStorageFolder> served_storage::FindFolder(const std::wstring& relative) {
    auto folder = root;
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find(L'\\', start), relative.size());
        const std::wstring part = relative.substr(start, end - start);
        if (testing::raised([&] { folder = OpenFolderOrThrow(folder.get(), part, VARIANT_FALSE); }) != S_OK)
            folder = OpenFolderOrThrow(folder.get(), part, VARIANT_TRUE);
        start = end + 1;
    }
    return folder;
}

bool served_storage::Exists(const std::wstring& relative) {
    return testing::raised([&] { FindElementInfoOrThrow(root.get(), relative); }) == S_OK;
}

CIdList served_storage::List() const { return CIdList(ILCreateFromPathW(path.c_str())); }

namespace {
constexpr wchar_t advanced_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
}

extensions_shown_as::extensions_shown_as(bool shown) {
    DWORD size = sizeof(old_);
    had_ = RegGetValueW(HKEY_CURRENT_USER, advanced_key, L"HideFileExt", RRF_RT_REG_DWORD, nullptr, &old_, &size) ==
           ERROR_SUCCESS;
    for (DWORD hide : {0u, 1u}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, advanced_key, L"HideFileExt", REG_DWORD, &hide, sizeof(hide));
        SHELLFLAGSTATE state{};
        SHGetSettings(&state, SSF_SHOWEXTENSIONS);
        if (!!state.fShowExtensions == shown) return;
    }
    FAIL("the extension setting cannot be changed");
}

extensions_shown_as::~extensions_shown_as() {
    if (had_)
        RegSetKeyValueW(HKEY_CURRENT_USER, advanced_key, L"HideFileExt", REG_DWORD, &old_, sizeof(old_));
    else
        RegDeleteKeyValueW(HKEY_CURRENT_USER, advanced_key, L"HideFileExt");
}

}  // namespace shell_testing
