// The form in which a storage keeps its RSA-enciphered content key: the wizard wraps, the shell unwraps.
#pragma once
#include "text.h"

namespace tools {

// CryptoAPI gives RSA cipher text least significant byte first; the storage keeps it most significant byte
// first, the order of PKCS#1 itself, so any RSA implementation can read it. The transformation is its own inverse.
byte_buffer wrap_content_key(const byte_buffer& encrypted);
byte_buffer unwrap_content_key(const byte_buffer& wrapped);

}  // namespace tools
