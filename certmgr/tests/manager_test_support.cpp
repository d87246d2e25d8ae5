#include "manager_test_support.h"

#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <wizard/keys/key_certificate.h>

namespace certtest {

const wchar_t* const key_password = L"Manager-Key 1";

namespace {

const wchar_t* const strong_provider = L"Microsoft Strong Cryptographic Provider";

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

struct dialog_search {
    const wchar_t* caption;
    DWORD process;
    HWND other_than;
    HWND found;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<dialog_search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || window == search->other_than || !IsWindowVisible(window)) return TRUE;
    wchar_t text[256] = L"", window_class[64] = L"";
    GetClassNameW(window, window_class, 64);
    GetWindowTextW(window, text, 256);
    if (wcscmp(window_class, L"#32770") != 0 || wcscmp(text, search->caption) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK collect_static(HWND window, LPARAM context) {
    wchar_t window_class[64] = L"", text[2048] = L"";
    GetClassNameW(window, window_class, 64);
    if (_wcsicmp(window_class, L"Static") == 0 && GetWindowTextW(window, text, 2048) > 0)
        *reinterpret_cast<std::wstring*>(context) += std::wstring(text) + L"\n";
    return TRUE;
}

}  // namespace

SYSTEMTIME days_from_now(int days) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart += static_cast<LONGLONG>(days) * 864000000000LL;
    FILETIME moved{t.LowPart, t.HighPart};
    SYSTEMTIME out;
    FileTimeToSystemTime(&moved, &out);
    out.wMilliseconds = 0;
    return out;
}

product_key::product_key(PCCERT_CONTEXT issuer, const std::wstring& name, int not_before_days, int not_after_days)
    : name_(name) {
    KeyCertificateRequest request;
    request.password = key_password;
    request.not_before = days_from_now(not_before_days);
    request.not_after = days_from_now(not_after_days);
    request.common_name = name_.c_str();
    CreateKeyCertificate(issuer, request, pfx_);
    tools::cert_list opened = tools::import_pfx(pfx_, key_password);
    record_ = opened.at(0);
    tools::byte_buffer info = key_info_of(record_.get());
    container_ = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->pwszContainerName;
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
    PCCERT_CONTEXT in_store = find_in(store.get(), record_.get());
    if (in_store) CertFreeCertificateContext(in_store);
    return in_store != nullptr;
}

void product_key::set_key_flags(DWORD flags) {
    tools::byte_buffer info = key_info_of(record_.get());
    auto* fields = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
    fields->dwFlags = flags;
    tools::check_win(CertSetCertificateContextProperty(record_.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, fields));
    tools::auto_cert_store store = tools::open_user_store(L"MY");
    if (PCCERT_CONTEXT in_store = find_in(store.get(), record_.get())) {
        BOOL ok = CertSetCertificateContextProperty(in_store, CERT_KEY_PROV_INFO_PROP_ID, 0, fields);
        CertFreeCertificateContext(in_store);
        tools::check_win(ok);
    }
}

void product_key::lock_key() {
    tools::byte_buffer info = key_info_of(record_.get());
    const auto* fields = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
    HCRYPTPROV provider = 0;
    tools::check_win(CryptAcquireContextW(&provider, fields->pwszContainerName, fields->pwszProvName,
                                          fields->dwProvType, 0));
    HCRYPTKEY key = 0;
    BOOL ok = CryptGenKey(provider, AT_KEYEXCHANGE, 1024u << 16, &key);
    DWORD error = GetLastError();
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
    if (!ok) throw tools::win_except(error);
}

bool container_exists(const std::wstring& name) {
    for (const wchar_t* provider : {MS_ENHANCED_PROV_W, strong_provider}) {
        HCRYPTPROV handle = 0;
        if (CryptAcquireContextW(&handle, name.c_str(), provider, PROV_RSA_FULL, CRYPT_SILENT)) {
            CryptReleaseContext(handle, 0);
            return true;
        }
    }
    return false;
}

HWND find_dialog(const wchar_t* caption, DWORD process, HWND other_than) {
    dialog_search search{caption, process, other_than, nullptr};
    EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_for_dialog(const wchar_t* caption, DWORD process, HWND other_than, DWORD timeout_ms) {
    HWND found = nullptr;
    wait_until([&] { return (found = find_dialog(caption, process, other_than)) != nullptr; }, timeout_ms);
    return found;
}

bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(50)) {
        if (GetTickCount() - start > timeout_ms) return false;
        // Windows of the waiting thread (a test's own) keep answering meanwhile.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    return true;
}

std::wstring static_texts(HWND dialog) {
    std::wstring texts;
    EnumChildWindows(dialog, collect_static, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void set_file_name(HWND file_dialog, const std::wstring& path) {
    // The file-name box (cmb13) is a combo box around an edit control; the edit takes the text.
    HWND box = GetDlgItem(file_dialog, 0x47C);
    HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit && box) {
        HWND inner = FindWindowExW(box, nullptr, L"ComboBox", nullptr);
        if (inner) edit = FindWindowExW(inner, nullptr, L"Edit", nullptr);
    }
    SendMessageW(edit ? edit : box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
}

void press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace certtest
