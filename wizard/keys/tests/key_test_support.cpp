#include "key_test_support.h"

#include <doctest.h>
#include <fstream>
#include <tools/win_except.h>

namespace keytest {

namespace {
const wchar_t* const strong_provider = L"Microsoft Strong Cryptographic Provider";

std::wstring key_files_dir() {
    wchar_t unix_path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ORRI_KEY_FILES", unix_path, MAX_PATH);
    if (!n || n >= MAX_PATH) return {};
    std::wstring dos = L"Z:" + std::wstring(unix_path, n);
    for (wchar_t& c : dos)
        if (c == L'/') c = L'\\';
    CreateDirectoryW(dos.c_str(), nullptr);
    return dos;
}

void write_all(const std::wstring& path, const void* data, size_t size) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    REQUIRE(out.good());
}
}  // namespace

bool container_exists(const std::wstring& name) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, name.c_str(), strong_provider, PROV_RSA_FULL, CRYPT_SILENT)) return false;
    CryptReleaseContext(prov, 0);
    return true;
}

tools::byte_buffer exchange_public_key(HCRYPTPROV provider) {
    HCRYPTKEY key = 0;
    tools::check_win(CryptGetUserKey(provider, AT_KEYEXCHANGE, &key));
    DWORD len = 0;
    BOOL ok = CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &len);
    tools::byte_buffer blob(len);
    ok = ok && CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &len);
    DWORD error = GetLastError();
    CryptDestroyKey(key);
    if (!ok) throw tools::win_except(error);
    blob.resize(len);
    // The algorithm in the header depends on how the key was brought in; the numbers are what matter.
    return tools::byte_buffer(blob.begin() + sizeof(BLOBHEADER), blob.end());
}

tools::byte_buffer certificate_public_key(PCCERT_CONTEXT cert) {
    HCRYPTPROV prov = 0;
    tools::check_win(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    BOOL ok = CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &key);
    DWORD len = 0;
    ok = ok && CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &len);
    tools::byte_buffer blob(len);
    ok = ok && CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &len);
    DWORD error = GetLastError();
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    if (!ok) throw tools::win_except(error);
    blob.resize(len);
    return tools::byte_buffer(blob.begin() + sizeof(BLOBHEADER), blob.end());
}

void leave_key_file(const std::wstring& name, const tools::byte_buffer& pfx, const std::wstring& password,
                    const tools::byte_buffer& issuer_der) {
    std::wstring dir = key_files_dir();
    if (dir.empty()) return;  // run by hand, outside ctest
    write_all(dir + L"\\" + name + L".pfx", pfx.data(), pfx.size());
    int n = WideCharToMultiByte(CP_UTF8, 0, password.c_str(), static_cast<int>(password.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, password.c_str(), static_cast<int>(password.size()), utf8.data(), n, nullptr,
                        nullptr);
    utf8 += '\n';
    write_all(dir + L"\\" + name + L".pass", utf8.data(), utf8.size());
    if (!issuer_der.empty()) write_all(dir + L"\\" + name + L".issuer.der", issuer_der.data(), issuer_der.size());
}

self_signed_key::self_signed_key(bool exportable, const tools::byte_buffer& key_identifier) {
    container_ = tools::guid_to_string(tools::new_guid());
    HCRYPTPROV prov = 0;
    tools::check_win(CryptAcquireContextW(&prov, container_.c_str(), strong_provider, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTKEY key = 0;
    BOOL ok = CryptGenKey(prov, AT_KEYEXCHANGE, (1024u << 16) | (exportable ? CRYPT_EXPORTABLE : 0), &key);
    DWORD error = GetLastError();
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    if (!ok) throw tools::win_except(error);

    CERT_NAME_BLOB subject{};
    const wchar_t* name = L"CN=Key file test";
    DWORD size = 0;
    tools::check_win(CertStrToNameW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, nullptr, nullptr, &size, nullptr));
    tools::byte_buffer encoded(size);
    tools::check_win(CertStrToNameW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, nullptr, encoded.data(), &size,
                                    nullptr));
    subject.pbData = encoded.data();
    subject.cbData = size;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container_.data();
    info.pwszProvName = const_cast<wchar_t*>(strong_provider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    // The extension's value is the identifier as a DER octet string.
    tools::byte_buffer identifier{0x04, static_cast<unsigned char>(key_identifier.size())};
    identifier.insert(identifier.end(), key_identifier.begin(), key_identifier.end());
    CERT_EXTENSION named{const_cast<char*>(szOID_SUBJECT_KEY_IDENTIFIER), FALSE,
                         {static_cast<DWORD>(identifier.size()), identifier.data()}};
    CERT_EXTENSIONS extensions{1, &named};
    cert_ = CertCreateSelfSignCertificate(0, &subject, 0, &info, nullptr, nullptr, nullptr,
                                          key_identifier.empty() ? nullptr : &extensions);
    if (!cert_) {
        error = GetLastError();
        HCRYPTPROV gone = 0;
        CryptAcquireContextW(&gone, container_.c_str(), strong_provider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        throw tools::win_except(error);
    }
}

self_signed_key::~self_signed_key() {
    if (cert_) CertFreeCertificateContext(cert_);
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, container_.c_str(), strong_provider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

tools::byte_buffer self_signed_key::public_key() const {
    HCRYPTPROV prov = 0;
    tools::check_win(CryptAcquireContextW(&prov, container_.c_str(), strong_provider, PROV_RSA_FULL, 0));
    try {
        tools::byte_buffer blob = exchange_public_key(prov);
        CryptReleaseContext(prov, 0);
        return blob;
    } catch (...) {
        CryptReleaseContext(prov, 0);
        throw;
    }
}

}  // namespace keytest

namespace keytest {

namespace {
struct dialog_search {
    const wchar_t* caption;
    DWORD process;
    HWND other_than;
    HWND found;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<dialog_search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t text[256], cls[64];
    if (pid != search->process || window == search->other_than || !IsWindowVisible(window)) return TRUE;
    GetClassNameW(window, cls, 64);
    GetWindowTextW(window, text, 256);
    if (std::wstring(cls) == L"#32770" && std::wstring(text) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct control_search {
    const wchar_t* window_class;
    int button_type;
    HWND found;
    std::wstring texts;
};

BOOL CALLBACK match_control(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<control_search*>(param);
    wchar_t cls[64];
    GetClassNameW(window, cls, 64);
    if (_wcsicmp(cls, search->window_class) != 0) return TRUE;
    if (!search->window_class[0] || search->button_type < 0 ||
        (GetWindowLongW(window, GWL_STYLE) & 0xF) == search->button_type) {
        if (!search->found) search->found = window;
        wchar_t text[1024];
        GetWindowTextW(window, text, 1024);
        if (text[0]) search->texts += std::wstring(text) + L"\n";
    }
    return TRUE;
}
}  // namespace

HWND find_dialog(const wchar_t* caption, DWORD process, HWND other_than) {
    dialog_search search{caption, process, other_than, nullptr};
    EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_dialog(const wchar_t* caption, DWORD timeout_ms, DWORD process, HWND other_than) {
    DWORD start = GetTickCount();
    do {
        if (HWND found = find_dialog(caption, process, other_than)) return found;
        Sleep(100);
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

std::wstring dialog_text(HWND dialog) {
    control_search search{L"Static", -1, nullptr, {}};
    EnumChildWindows(dialog, match_control, reinterpret_cast<LPARAM>(&search));
    return search.texts;
}

HWND find_control(HWND dialog, const wchar_t* window_class, int button_type) {
    control_search search{window_class, button_type, nullptr, {}};
    EnumChildWindows(dialog, match_control, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace keytest
