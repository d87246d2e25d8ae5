// MD5 (RFC 1321) through the system's cryptographic provider.
#pragma once
#include "auto_handle.h"

#include <array>
#include <cstddef>

namespace tools {

using md5_digest = std::array<unsigned char, 16>;

// Holds one provider for many digests; each digest starts from MD5's initial state.
// Failures throw tools::win_except.
class md5_hasher {
public:
    md5_hasher();
    md5_digest digest(const void* bytes, size_t count) const;

private:
    auto_crypt_prov provider_;
};

inline md5_digest md5(const void* bytes, size_t count) { return md5_hasher().digest(bytes, count); }

}  // namespace tools
