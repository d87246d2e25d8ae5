// Stands in for the range checks that Wine's compound-file streams lack: negative seeks succeed, writes past 4 GiB go on.
#include "stream_range.h"

namespace platform {

HRESULT stream_extent(IStream* stream, ULONGLONG* position, ULONGLONG* size) {
    if (!stream || !position || !size) return E_POINTER;
    ULARGE_INTEGER at{};
    HRESULT hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at);
    if (FAILED(hr)) return hr;
    STATSTG stat{};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    *position = at.QuadPart;
    *size = stat.cbSize.QuadPart;
    return S_OK;
}

HRESULT check_stream_end(ULONGLONG end) { return end > largest_stream_size ? STG_E_DOCFILETOOLARGE : S_OK; }

HRESULT stream_seek_target(IStream* stream, LARGE_INTEGER move, DWORD origin, ULONGLONG* target) {
    if (!stream || !target) return E_POINTER;
    ULONGLONG base = 0;
    if (origin == STREAM_SEEK_CUR || origin == STREAM_SEEK_END) {
        ULONGLONG position = 0, size = 0;
        HRESULT hr = stream_extent(stream, &position, &size);
        if (FAILED(hr)) return hr;
        base = origin == STREAM_SEEK_CUR ? position : size;
    } else if (origin != STREAM_SEEK_SET) {
        return STG_E_INVALIDFUNCTION;
    }
    // Both the base and the stream's size stay far below the ends of the 64-bit range.
    if (move.QuadPart < 0 && static_cast<ULONGLONG>(-(move.QuadPart + 1)) >= base) return STG_E_INVALIDFUNCTION;
    ULONGLONG reached = base + static_cast<ULONGLONG>(move.QuadPart);
    if (move.QuadPart > 0 && reached < base) return STG_E_DOCFILETOOLARGE;
    HRESULT hr = check_stream_end(reached);
    if (FAILED(hr)) return hr;
    *target = reached;
    return S_OK;
}

}  // namespace platform
