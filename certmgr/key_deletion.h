// Deleting an installed storage key: its certificate and its private key's container.
#pragma once
#include <windows.h>
#include <wincrypt.h>

// Deletes the certificate from the store it was enumerated from, then the key container its key provider
// information names, unless another certificate of that store still names that container. Throws
// tools::win_except when the certificate cannot be deleted; a container that cannot be removed is left behind.
void DeleteCertificateWithKey(PCCERT_CONTEXT cert);
