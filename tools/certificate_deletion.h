// Deleting an installed key: its certificate and its private key's container.
#pragma once
#include <windows.h>
#include <wincrypt.h>

namespace tools {

// Deletes the certificate from the store it was found in, which must still be open (Wine refuses a delete once the
// store is closed), then the key container its key provider information names, unless another certificate of that
// store still names that container. Throws win_except when the certificate cannot be deleted; a container that
// cannot be removed is left behind.
void delete_certificate_with_key(PCCERT_CONTEXT cert);

}  // namespace tools
