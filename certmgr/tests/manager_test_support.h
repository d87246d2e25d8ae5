// Helpers of the certificate manager's tests: storage keys made by the product's own routine with chosen dates,
// and the manager's windows driven from the test's thread.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <functional>
#include <string>

#include <tools/certificates.h>

namespace certtest {

// The password of every key file the tests make.
extern const wchar_t* const key_password;

// A storage key made by the product's key routine, valid from and to the given days from now, opened through the
// product's import into a key container of its own. Going, it leaves "MY" (when installed) and takes its container.
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

    void install();  // into the user's "MY" store
    bool installed() const;
    // Records other key-provider flags on the certificate (before it is installed).
    void set_key_flags(DWORD flags);
    // Replaces the container's exchange key with one that may not be exported.
    void lock_key();

private:
    std::wstring name_;
    tools::byte_buffer pfx_;
    tools::cert_record record_;
    std::wstring container_;
};

// Waits for the condition, keeping the waiting thread's own windows answering.
bool wait_until(const std::function<bool()>& condition, DWORD timeout_ms = 10000);
// Clicks a dialog's button by its id.
void press(HWND dialog, int id);
// Types a path into the file-name box of an open or save dialog.
void set_file_name(HWND file_dialog, const std::wstring& path);

}  // namespace certtest
