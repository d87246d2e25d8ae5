#include "manager_test_support.h"

#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <wizard/keys/key_certificate.h>

namespace certtest {

const wchar_t* const key_password = L"Manager-Key 1";

namespace {

SYSTEMTIME days_from_now(int days) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart += static_cast<LONGLONG>(days) * 864000000000LL;
    FILETIME moved{t.LowPart, t.HighPart};
    SYSTEMTIME out;
    FileTimeToSystemTime(&moved, &out);
    return out;
}

tools::byte_buffer key_info_of(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    tools::check_win(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    tools::byte_buffer data(size);
    tools::check_win(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size));
    return data;
}

PCCERT_CONTEXT find_in(HCERTSTORE store, PCCERT_CONTEXT cert) {
    return CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
}

}  // namespace

product_key::product_key(PCCERT_CONTEXT issuer, const std::wstring& name, int not_before_days, int not_after_days)
    : name_(name) {
    KeyCertificateRequest request;
    request.password = key_password;
    request.not_before = days_from_now(not_before_days);
    request.not_after = days_from_now(not_after_days);
    request.common_name = name_.c_str();
    CreateKeyCertificate(issuer, request, pfx_);
    record_ = tools::import_pfx(pfx_, key_password).at(0);
    container_ = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(key_info_of(record_.get()).data())->pwszContainerName;
}

product_key::~product_key() {
    try {
        tools::auto_cert_store store = tools::open_user_store(L"MY");
        if (PCCERT_CONTEXT in_store = find_in(store.get(), record_.get())) CertDeleteCertificateFromStore(in_store);
    } catch (...) {
    }
    HCRYPTPROV gone = 0;
    CryptAcquireContextW(&gone, container_.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

void product_key::install() {
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    tools::check_win(CertAddCertificateContextToStore(store.get(), record_.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                                      nullptr));
}

bool product_key::installed() const {
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    tools::auto_cert_context in_store(find_in(store.get(), record_.get()));
    return !in_store.empty();
}

void product_key::set_key_flags(DWORD flags) {
    tools::byte_buffer info = key_info_of(record_.get());
    reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data())->dwFlags = flags;
    tools::check_win(CertSetCertificateContextProperty(record_.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()));
}

void product_key::lock_key() {
    HCRYPTPROV provider = 0;
    tools::check_win(CryptAcquireContextW(&provider, container_.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0));
    HCRYPTKEY key = 0;
    BOOL ok = CryptGenKey(provider, AT_KEYEXCHANGE, 1024u << 16, &key);
    DWORD error = GetLastError();
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    if (!ok) throw tools::win_except(error);
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(50)) {
        if (GetTickCount() - start > timeout_ms) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    return true;
}

void press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void set_file_name(HWND file_dialog, const std::wstring& path) {
    // The file-name box (cmb13) is a combo box around an edit control; the edit takes the text.
    HWND box = GetDlgItem(file_dialog, 0x47C);
    HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit && box)
        if (HWND inner = FindWindowExW(box, nullptr, L"ComboBox", nullptr))
            edit = FindWindowExW(inner, nullptr, L"Edit", nullptr);
    SendMessageW(edit ? edit : box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
}

}  // namespace certtest
