// The product's issuing certificate: it signs every key certificate.
#pragma once
#include <tools/certificates.h>
#include <tools/text.h>

// A copy of the issuing certificate with its exchange private key: DER PKCS#12 under the empty password.
tools::byte_buffer IssuingCertificateBlob();

// The issuing certificate alone, DER-encoded: what recognises the keys it issued, without making a key container.
tools::byte_buffer IssuingCertificateEncoding();

// The issuing certificate imported for signing. Its key is wanted only while keys are made, so the container
// it was imported into is deleted again when this goes.
class CIssuingCertificate {
public:
    CIssuingCertificate();
    ~CIssuingCertificate();
    CIssuingCertificate(const CIssuingCertificate&) = delete;
    CIssuingCertificate& operator=(const CIssuingCertificate&) = delete;

    PCCERT_CONTEXT get() const { return cert_.get(); }
    const tools::cert_record& record() const { return cert_; }

private:
    tools::cert_record cert_;
};
