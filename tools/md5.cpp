#include "md5.h"

#include <wincrypt.h>

#include "win_except.h"

namespace tools {

namespace {

class hash_handle {
public:
    explicit hash_handle(HCRYPTPROV provider) { check_win(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash_)); }
    ~hash_handle() { CryptDestroyHash(hash_); }
    hash_handle(const hash_handle&) = delete;
    hash_handle& operator=(const hash_handle&) = delete;
    HCRYPTHASH get() const noexcept { return hash_; }

private:
    HCRYPTHASH hash_ = 0;
};

}  // namespace

md5_hasher::md5_hasher() {
    HCRYPTPROV raw = 0;
    check_win(CryptAcquireContextW(&raw, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    provider_ = auto_crypt_prov(raw);
}

md5_digest md5_hasher::digest(const void* bytes, size_t count) const {
    hash_handle hash(provider_.get());
    // CryptHashData takes 32-bit counts: larger inputs go in pieces.
    const BYTE* at = static_cast<const BYTE*>(bytes);
    while (count > 0) {
        DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        check_win(CryptHashData(hash.get(), at, piece, 0));
        at += piece;
        count -= piece;
    }
    md5_digest digest{};
    DWORD size = static_cast<DWORD>(digest.size());
    check_win(CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &size, 0));
    return digest;
}

}  // namespace tools
