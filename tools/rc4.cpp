#include "rc4.h"

#include <utility>

namespace tools {

void rc4_crypt(const unsigned char* key, size_t key_length, unsigned char* data, size_t length) noexcept {
    if (key_length == 0 || !key) return;
    unsigned char state[256];
    for (int i = 0; i < 256; ++i) state[i] = static_cast<unsigned char>(i);
    unsigned char j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<unsigned char>(j + state[i] + key[i % key_length]);
        std::swap(state[i], state[j]);
    }
    unsigned char i = 0;
    j = 0;
    for (size_t n = 0; n < length; ++n) {
        ++i;
        j = static_cast<unsigned char>(j + state[i]);
        std::swap(state[i], state[j]);
        data[n] ^= state[static_cast<unsigned char>(state[i] + state[j])];
    }
    SecureZeroMemory(state, sizeof state);
}

}  // namespace tools
