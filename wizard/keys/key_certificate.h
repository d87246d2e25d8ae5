// Key certificates: a fresh key pair with an X.509 certificate that the issuing certificate signs, handed out
// only as a password-protected PKCS#12 blob.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <tools/text.h>

// What the new key certificate says. Every text is borrowed for the call; a null text leaves its field out.
struct KeyCertificateRequest {
    const wchar_t* password = nullptr;
    SYSTEMTIME not_before{};
    SYSTEMTIME not_after{};
    const wchar_t* common_name = nullptr;          // CN
    const wchar_t* locality = nullptr;             // L
    const wchar_t* organization = nullptr;         // O
    const wchar_t* organizational_unit = nullptr;  // OU
    const wchar_t* email = nullptr;                // E
    const wchar_t* country = nullptr;              // C
    const wchar_t* state = nullptr;                // S
    const wchar_t* street = nullptr;               // STREET
    const wchar_t* title = nullptr;                // T
    const wchar_t* given_name = nullptr;           // G
    const wchar_t* initials = nullptr;             // I
    const wchar_t* surname = nullptr;              // SN
    const wchar_t* domain_component = nullptr;     // DC
};

// Makes a 2048-bit exchange key in a container of its own, certifies it with the issuer's key (whose provider
// the issuer's key provider information names) and replaces pfx with the certificate and key as PKCS#12 under
// the request's password. The container is gone again when the call returns, on every path.
// Failures throw tools::win_except.
void CreateKeyCertificate(PCCERT_CONTEXT issuer, const KeyCertificateRequest& request, tools::byte_buffer& pfx);

// The same with the GUID that names the container and gives the serial number chosen by the caller (tests).
void CreateKeyCertificate(PCCERT_CONTEXT issuer, const KeyCertificateRequest& request, GUID id,
                          tools::byte_buffer& pfx);
