// A storage key's export into a key file, and the test whether its private key may leave its container.
#pragma once
#include <windows.h>
#include <wincrypt.h>

// Whether the certificate's exchange key, in the container its key provider information names, carries
// CRYPT_EXPORT. Any failure (no key information, no container, no key) counts as not exportable.
bool IsPrivateKeyExportable(PCCERT_CONTEXT cert);

// The system's export wizard for the certificate with its private key (on Wine, where that wizard cannot write a
// key, a password prompt and a file choice of our own). A cancel is silent; errors are shown, owned by owner.
// Returns whether a key file was written.
bool ExportCertificate(HWND owner, PCCERT_CONTEXT cert);
