// Certificate records and the CryptoAPI routines shared by the programs: chains, key identifiers,
// a certificate's provider and exchange key, RSA with that key, the user's stores and the viewer.
#pragma once
#include "auto_handle.h"
#include "text.h"

#include <windows.h>
#include <wincrypt.h>
#include <vector>

namespace tools {

// A certificate and, optionally, the window that owns any prompt its key provider shows.
// The owner is never copied: a copy starts without one.
struct cert_record {
    auto_cert_context context;
    HWND* owner_window = nullptr;

    cert_record() = default;
    cert_record(auto_cert_context held) : context(std::move(held)) {}
    cert_record(const cert_record& other) : context(other.context) {}
    cert_record(cert_record&& other) noexcept : context(std::move(other.context)) {}
    cert_record& operator=(const cert_record& other) {
        context = other.context;
        owner_window = nullptr;
        return *this;
    }
    cert_record& operator=(cert_record&& other) noexcept {
        context = std::move(other.context);
        owner_window = nullptr;
        return *this;
    }
    PCCERT_CONTEXT get() const noexcept { return context.get(); }
};

using cert_list = std::vector<cert_record>;

// A certificate's provider and its AT_KEYEXCHANGE key; the key is freed before the provider.
struct cert_key {
    auto_crypt_prov provider;
    auto_crypt_key key;
};

auto_cert_context hold_cert_context(PCCERT_CONTEXT raw);

// The certificates of every chain of cert, in order; a trust error other than unknown
// revocation status raises _com_error(E_ACCESSDENIED).
cert_list chain_certificates(const cert_record& cert);

// The certificate's key identifier: its subject-key-identifier, else the SHA-1 of its encoded
// public-key info (the platform's own rule, which Wine does not follow for version 1 certificates).
byte_buffer cert_key_identifier(const cert_record& cert);

auto_crypt_prov acquire_cert_provider(const cert_record& cert);
auto_crypt_key get_exchange_key(const auto_crypt_prov& provider);
cert_key get_cert_key(const cert_record& cert);

// PKCS#1 v1.5 with the certificate's exchange key, in CryptoAPI byte order (least significant first).
byte_buffer rsa_encrypt(const cert_record& cert, const byte_buffer& data);
byte_buffer rsa_decrypt(const cert_record& cert, const byte_buffer& data);

// The current user's certificate store of that name ("MY", "Root"...), opened through the
// registry: on Wine the system-store provider accepts deletes and adds to Root that never happen.
auto_cert_store open_user_store(const wchar_t* name);

// The first certificate of the user's store with that key identifier; none throws the store's
// "not found" error (CRYPT_E_NOT_FOUND).
auto_cert_context find_cert_by_key_identifier(const wchar_t* store_name, const byte_buffer& id);

// The system's certificate dialog; false when it could not be shown.
bool view_certificate(HWND owner, const cert_record& cert);

// An export of the certificate dialogs library (cryptui.dll), loaded when first asked for: programs start without
// it. Throws win_except when the library or the export cannot be had.
FARPROC certificate_dialogs_export(const char* name);

}  // namespace tools
