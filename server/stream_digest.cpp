#include "stream_digest.h"

#include <wincrypt.h>

#include <tools/auto_handle.h>
#include <tools/text.h>
#include <tools/win_except.h>

namespace {

class md5_hash {
public:
    explicit md5_hash(HCRYPTPROV provider) { tools::check_win(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash_)); }
    ~md5_hash() { CryptDestroyHash(hash_); }
    md5_hash(const md5_hash&) = delete;
    md5_hash& operator=(const md5_hash&) = delete;

    GUID digest_of(const BYTE* bytes, DWORD count) {
        tools::check_win(CryptHashData(hash_, bytes, count, 0));
        GUID digest{};
        DWORD size = sizeof digest;
        tools::check_win(CryptGetHashParam(hash_, HP_HASHVAL, reinterpret_cast<BYTE*>(&digest), &size, 0));
        return digest;
    }

private:
    HCRYPTHASH hash_ = 0;
};

}  // namespace

HRESULT ComputeStreamDigest(IStream* stream, GUID& digest) {
    digest = GUID{};
    if (!stream) return E_POINTER;
    HRESULT hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;

    HCRYPTPROV raw = 0;
    tools::check_win(CryptAcquireContextW(&raw, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    tools::auto_crypt_prov provider(raw);
    BYTE buffer[4096];
    for (;;) {
        ULONG read = 0;
        hr = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(hr)) return hr;
        if (read == 0) return S_OK;
        // Each read is hashed by itself, from MD5's initial state.
        md5_hash block(provider.get());
        tools::guid_xor_assign(digest, block.digest_of(buffer, read));
        if (hr != S_OK) return S_OK;
    }
}
