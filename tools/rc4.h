// RC4, the stream cipher: a 256-entry state keyed by the key bytes, then the keystream XORed with the data.
// Enciphering and deciphering are the same operation.
#pragma once
#include "text.h"

#include <cstddef>

namespace tools {

// Passes the bytes through RC4 under the key, in place. An empty key leaves them as they are.
void rc4_crypt(const unsigned char* key, size_t key_length, unsigned char* data, size_t length) noexcept;
inline void rc4_crypt(const byte_buffer& key, byte_buffer& data) noexcept {
    rc4_crypt(key.data(), key.size(), data.data(), data.size());
}

}  // namespace tools
