// PKCS#12 import that gives every imported private key a key container of its own.
#pragma once
#include "certificates.h"

namespace tools {

// Imports the certificates of a PKCS#12 blob, in the file's order. Each private key goes into a new
// exportable container of the user's key set, named by a fresh GUID and recorded on its certificate
// (CERT_KEY_PROV_INFO, AT_KEYEXCHANGE), so a later import never overwrites an earlier key.
// password null: the empty password, then none. A wrong password throws win_except(ERROR_INVALID_PASSWORD),
// bytes that are no PKCS#12 at all win_except(CRYPT_E_BAD_ENCODE); a failure leaves no container behind.
cert_list import_pfx(const byte_buffer& pfx, const wchar_t* password);

cert_list read_and_import_pfx(const wchar_t* path, const wchar_t* password);

// Removes the key container that the certificate's key provider information names, for callers
// that needed the key only for a moment; the certificate loses that information. A certificate
// without it is left alone.
void delete_key_container(const cert_record& cert);

}  // namespace tools
