#include "stream_digest.h"

#include <cstring>

#include <tools/md5.h>
#include <tools/text.h>

HRESULT ComputeStreamDigest(IStream* stream, GUID& digest) {
    digest = GUID{};
    if (!stream) return E_POINTER;
    HRESULT hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;

    tools::md5_hasher hasher;
    BYTE buffer[4096];
    for (;;) {
        ULONG read = 0;
        hr = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(hr)) return hr;
        if (read == 0) return S_OK;
        // Each read is hashed by itself, from MD5's initial state.
        tools::md5_digest bytes = hasher.digest(buffer, read);
        GUID block;
        std::memcpy(&block, bytes.data(), sizeof block);
        tools::guid_xor_assign(digest, block);
        if (hr != S_OK) return S_OK;
    }
}
