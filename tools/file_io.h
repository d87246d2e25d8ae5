// Whole-file binary reading and writing.
#pragma once
#include "text.h"

#include <windows.h>
#include <string>

namespace tools {

// Creates or replaces the file with exactly these bytes. A file that cannot be created gives
// win_except(2) when it does not exist, else win_except(5); a failing write, flush, close or
// replacement gives the system's own error, and the file is then left as it was before the call.
void write_file(const wchar_t* path, const void* bytes, size_t length);
inline void write_file(const std::wstring& path, const byte_buffer& bytes) {
    write_file(path.c_str(), bytes.data(), bytes.size());
}

// Reads the whole file into out and returns its length; opening fails as write_file does, a failed
// or short read gives the system's error (ERROR_HANDLE_EOF for a file that shrank meanwhile).
size_t read_file(const wchar_t* path, byte_buffer& out);
inline size_t read_file(const std::wstring& path, byte_buffer& out) { return read_file(path.c_str(), out); }

}  // namespace tools
