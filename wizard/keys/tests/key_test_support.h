// Helpers of the key tests: containers in the user's key set, and key files handed to the host-side check.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <string>
#include <tools/text.h>

namespace keytest {

// Whether a container of that name exists in the current user's key set of the strong provider.
bool container_exists(const std::wstring& name);

// The exchange public key held by a provider's container, as a CryptoAPI public key blob.
tools::byte_buffer exchange_public_key(HCRYPTPROV provider);

// The subject public key of a certificate, as a CryptoAPI public key blob.
tools::byte_buffer certificate_public_key(PCCERT_CONTEXT cert);

// Leaves a key file and its password (UTF-8) for the host-side openssl check, named <name>.pfx and <name>.pass,
// plus the certificate that should have signed it as <name>.issuer.der when one is given.
void leave_key_file(const std::wstring& name, const tools::byte_buffer& pfx, const std::wstring& password,
                    const tools::byte_buffer& issuer_der = {});

// A self-signed certificate with a fresh exchange key in its own container, removed with the object; given a key
// identifier, the certificate names it in its subject key identifier extension, whatever its own key.
class self_signed_key {
public:
    explicit self_signed_key(bool exportable = true, const tools::byte_buffer& key_identifier = {});
    ~self_signed_key();
    self_signed_key(const self_signed_key&) = delete;
    self_signed_key& operator=(const self_signed_key&) = delete;
    PCCERT_CONTEXT cert() const { return cert_; }
    const std::wstring& container() const { return container_; }
    tools::byte_buffer public_key() const;

private:
    std::wstring container_;
    PCCERT_CONTEXT cert_ = nullptr;
};

}  // namespace keytest

namespace keytest {

// A visible dialog with that caption of the process (this one unless given), other than other_than; null when none.
HWND find_dialog(const wchar_t* caption, DWORD process = GetCurrentProcessId(), HWND other_than = nullptr);

// The same, waited for at most timeout_ms; null when none came.
HWND wait_for_dialog(const wchar_t* caption, DWORD timeout_ms = 30000, DWORD process = GetCurrentProcessId(),
                     HWND other_than = nullptr);

// The texts of a dialog's static controls, one per line.
std::wstring dialog_text(HWND dialog);

// The first child control of that window class (and, when given, with a style whose low 4 bits match).
HWND find_control(HWND dialog, const wchar_t* window_class, int button_type = -1);

}  // namespace keytest
