#include "file_io.h"
#include "auto_handle.h"
#include "win_except.h"

#include <algorithm>

namespace tools {

namespace {
[[noreturn]] void throw_open_failure(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    throw win_except(attributes == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
}

constexpr DWORD chunk = 1u << 20;
}  // namespace

void write_file(const wchar_t* path, const void* bytes, size_t length) {
    // An existing file must be one we may write, although it is replaced rather than written in place.
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // Wine run by root opens read-only files for writing; the platform refuses.
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) throw win_except(ERROR_ACCESS_DENIED);
        HANDLE probe = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) throw_open_failure(path);
        CloseHandle(probe);
    }
    // The file may be the only copy of a key: the bytes go to a sibling first, which replaces the
    // file only once it is complete, so a failure leaves the old file as it was and nothing partial.
    std::wstring temp = std::wstring(path) + L"." + guid_to_string(new_guid()).substr(1, 8) + L".tmp";
    HANDLE raw = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) throw_open_failure(path);
    auto_kernel_handle file(raw);
    auto fail = [&](DWORD error) {
        file.reset();
        DeleteFileW(temp.c_str());
        throw win_except(error);
    };
    const auto* p = static_cast<const unsigned char*>(bytes);
    size_t left = length;
    while (left) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(left, chunk));
        DWORD written = 0;
        if (!WriteFile(raw, p, want, &written, nullptr)) fail(GetLastError());
        if (written == 0) fail(ERROR_WRITE_FAULT);
        p += written;
        left -= written;
    }
    if (!FlushFileBuffers(raw)) fail(GetLastError());
    if (!file.release()) fail(GetLastError());
    if (!MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) fail(GetLastError());
}

size_t read_file(const wchar_t* path, byte_buffer& out) {
    // Shared as a file stream shares it: a program that has the file open for writing does not stop us.
    HANDLE raw = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) throw_open_failure(path);
    auto_kernel_handle file(raw);
    LARGE_INTEGER size{};
    check_win(GetFileSizeEx(raw, &size));
    if (static_cast<unsigned long long>(size.QuadPart) > out.max_size()) throw win_except(ERROR_FILE_TOO_LARGE);
    byte_buffer data(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, chunk));
        DWORD got = 0;
        check_win(ReadFile(raw, data.data() + done, want, &got, nullptr));
        if (got == 0) throw win_except(ERROR_HANDLE_EOF);
        done += got;
    }
    out.swap(data);
    return out.size();
}

}  // namespace tools
