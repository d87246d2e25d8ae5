// Helpers of the certificate manager's tests: storage keys made by the product's own routine, and the windows of
// the manager found and driven from another thread.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <functional>
#include <string>
#include <vector>

#include <tools/certificates.h>

namespace certtest {

// The password of every key file the tests make.
extern const wchar_t* const key_password;

// The time of day now, days from today (negative: before), as the key routine takes its dates.
SYSTEMTIME days_from_now(int days);

// A storage key made by the product's key routine, with chosen validity, opened through the product's import into
// a key container of its own. Going, it takes its certificate out of "MY" (when installed) and its container away.
class product_key {
public:
    product_key(PCCERT_CONTEXT issuer, const std::wstring& name, int not_before_days, int not_after_days);
    ~product_key();
    product_key(const product_key&) = delete;
    product_key& operator=(const product_key&) = delete;

    PCCERT_CONTEXT cert() const { return record_.get(); }
    const tools::cert_record& record() const { return record_; }
    const tools::byte_buffer& key_file() const { return pfx_; }
    const std::wstring& container() const { return container_; }
    const std::wstring& name() const { return name_; }

    // Puts the certificate with its key information into the user's "MY" store.
    void install();
    // Whether the user's "MY" store holds this certificate.
    bool installed() const;
    // Records other key-provider flags on the certificate (also on its copy in "MY" when installed).
    void set_key_flags(DWORD flags);
    // Replaces the container's exchange key with a new one that may not be exported.
    void lock_key();

private:
    std::wstring name_;
    tools::byte_buffer pfx_;
    tools::cert_record record_;
    std::wstring container_;
};

// Whether the current user's key set holds a container of that name.
bool container_exists(const std::wstring& name);

// A visible dialog with that caption of the given process, other than other_than; null when none.
HWND find_dialog(const wchar_t* caption, DWORD process = GetCurrentProcessId(), HWND other_than = nullptr);
HWND wait_for_dialog(const wchar_t* caption, DWORD process = GetCurrentProcessId(), HWND other_than = nullptr,
                     DWORD timeout_ms = 20000);
bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms = 10000);
// The texts of a dialog's static controls, one per line.
std::wstring static_texts(HWND dialog);
// Clicks a dialog's button by its id, as a user would.
void press(HWND dialog, int id);
// Types a path into the file-name box of an open or save dialog.
void set_file_name(HWND file_dialog, const std::wstring& path);

}  // namespace certtest
