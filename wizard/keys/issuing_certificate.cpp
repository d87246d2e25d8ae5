#include "issuing_certificate.h"

#include <tools/pfx_import.h>
#include <tools/win_except.h>

CIssuingCertificate::CIssuingCertificate() {
    tools::cert_list imported = tools::import_pfx(IssuingCertificateBlob(), nullptr);
    if (imported.empty()) throw tools::win_except(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    cert_ = imported.front();
    // Only the first one is kept; any other would keep its key for nothing.
    for (size_t i = 1; i < imported.size(); ++i) {
        try {
            tools::delete_key_container(imported[i]);
        } catch (...) {
        }
    }
}

CIssuingCertificate::~CIssuingCertificate() {
    try {
        tools::delete_key_container(cert_);
    } catch (...) {
    }
}
