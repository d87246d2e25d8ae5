// Stands in for PFXExportCertStoreEx, a stub in Wine: writes a password-protected PKCS#12 blob itself.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <vector>

namespace platform {

// The certificates of the store, each with the private key its key-provider information names, as a PKCS#12 blob
// protected by password (null counts as empty). The system's own export is used where it works; otherwise
// write_pfx. Returns false with the last error set when the blob cannot be made.
bool export_pfx(HCERTSTORE store, const wchar_t* password, std::vector<unsigned char>& blob);

// Our own writer: certificate bags and PKCS#8 shrouded key bags, both under pbeWithSHAAnd3-KeyTripleDES-CBC,
// and an HMAC-SHA1 integrity check, all with SHA-1 key derivation of 2048 rounds.
bool write_pfx(HCERTSTORE store, const wchar_t* password, std::vector<unsigned char>& blob);

}  // namespace platform
