#include "storage_fixture.h"

#include <doctest.h>
#include <shlobj.h>
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
    CertDeleteCertificateFromStore(added_.detach());
    tools::delete_key_container(cert_);
}

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
