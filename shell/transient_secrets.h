// Secrets the key commands hold only for a moment: a typed password, wiped when it goes, and keys imported from a
// key file only to be looked at, whose key containers go with them.
#pragma once
#include <windows.h>
#include <string>

#include <tools/certificates.h>
#include <tools/pfx_import.h>

namespace shell {

struct wiped_text {
    std::wstring text;
    wiped_text() = default;
    wiped_text(const wiped_text&) = delete;
    wiped_text& operator=(const wiped_text&) = delete;
    ~wiped_text() { SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t)); }
};

struct transient_keys {
    tools::cert_list certs;
    transient_keys() = default;
    explicit transient_keys(tools::cert_list imported) : certs(std::move(imported)) {}
    transient_keys(const transient_keys&) = delete;
    transient_keys& operator=(const transient_keys&) = delete;
    ~transient_keys() {
        for (const auto& cert : certs) {
            try {
                tools::delete_key_container(cert);
            } catch (...) {
            }
        }
    }
};

}  // namespace shell
