// Stands in for the range checks that Wine's compound-file streams lack: negative seeks succeed, writes past 4 GiB go on.
#pragma once
#include <windows.h>
#include <objidl.h>

namespace platform {

// The largest size (and so seek position) of a stream in our storages. The platform's own SetSize takes
// no larger size, and a 32-bit server died writing past 4 GiB.
constexpr ULONGLONG largest_stream_size = 0xFFFFFFFFull;

// Where Seek (move, origin) would put the stream: STG_E_INVALIDFUNCTION for a place before its start or
// an unknown origin, STG_E_DOCFILETOOLARGE past largest_stream_size; else the stream's own error, if any.
HRESULT stream_seek_target(IStream* stream, LARGE_INTEGER move, DWORD origin, ULONGLONG* target);

// The stream's current position and size.
HRESULT stream_extent(IStream* stream, ULONGLONG* position, ULONGLONG* size);

// S_OK when a stream may be made to end at end: STG_E_DOCFILETOOLARGE past largest_stream_size.
HRESULT check_stream_end(ULONGLONG end);

}  // namespace platform
