#include "certificate_deletion.h"

#include "certificates.h"
#include "pfx_import.h"
#include "win_except.h"

#include <string>
#include <vector>

namespace tools {

namespace {

// The container that a certificate's key provider information names; empty without one.
std::wstring container_of(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return {};
    std::vector<BYTE> data(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) return {};
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
    return info->pwszContainerName ? info->pwszContainerName : L"";
}

bool container_still_named(HCERTSTORE store, const std::wstring& container) {
    PCCERT_CONTEXT other = nullptr;
    while ((other = CertEnumCertificatesInStore(store, other))) {
        if (_wcsicmp(container_of(other).c_str(), container.c_str()) == 0) {
            CertFreeCertificateContext(other);
            return true;
        }
    }
    return false;
}

}  // namespace

void delete_certificate_with_key(PCCERT_CONTEXT cert) {
    cert_record held(hold_cert_context(cert));
    std::wstring container = container_of(cert);
    // The delete frees the context it is given, so it gets a copy of its own.
    if (!CertDeleteCertificateFromStore(CertDuplicateCertificateContext(cert))) throw_last_error();
    if (container.empty() || !cert->hCertStore || container_still_named(cert->hCertStore, container)) return;
    try {
        delete_key_container(held);
    } catch (...) {
        // The certificate is gone; a container the provider will not remove stays where it is.
    }
}

}  // namespace tools
