// The product's issuing certificate: it signs every key certificate.
#pragma once
#include <tools/text.h>

// A copy of the issuing certificate with its exchange private key: DER PKCS#12 under the empty password.
tools::byte_buffer IssuingCertificateBlob();
