#include "test_support.h"

#include <doctest.h>
#include <tools/auto_handle.h>
#include <tools/file_io.h>
#include <tools/win_except.h>

namespace {
DWORD read_error(const std::wstring& path) {
    tools::byte_buffer out{1, 2, 3};
    try {
        tools::read_file(path, out);
    } catch (const tools::win_except& e) {
        CHECK(out == tools::byte_buffer{1, 2, 3});  // a failed read leaves the caller's buffer alone
        return e.code();
    }
    return 0;
}

DWORD write_error(const std::wstring& path, const tools::byte_buffer& bytes) {
    try {
        tools::write_file(path, bytes);
    } catch (const tools::win_except& e) {
        return e.code();
    }
    return 0;
}

tools::byte_buffer contents(const std::wstring& path) {
    tools::byte_buffer out;
    tools::read_file(path, out);
    return out;
}

int files_in(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return n;
}

tools::auto_kernel_handle open_exclusive(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    return tools::auto_kernel_handle(h);
}
}  // namespace

TEST_CASE("whole files are written and read back byte for byte") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"key.pfx");
    tools::byte_buffer big(3 * 1024 * 1024 + 7);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>((i * 131) >> 3);
    tools::write_file(path, big);
    tools::byte_buffer back;
    CHECK(tools::read_file(path, back) == big.size());
    CHECK(back == big);

    // A shorter write replaces the file entirely.
    tools::byte_buffer small{0, 1, 0, 2};
    tools::write_file(path, small);
    CHECK(contents(path) == small);
    CHECK(files_in(dir.path()) == 1);

    // An empty file reads as an empty buffer of length 0.
    tools::write_file(path.c_str(), nullptr, 0);
    tools::byte_buffer empty{9, 9};
    CHECK(tools::read_file(path, empty) == 0);
    CHECK(empty.empty());
}

TEST_CASE("reading: a missing file is code 2, a file locked against reading code 5") {
    testing::scratch_dir dir;
    CHECK(read_error(dir.file(L"missing.bin")) == ERROR_FILE_NOT_FOUND);
    CHECK(read_error(dir.file(L"no-folder\\missing.bin")) == ERROR_FILE_NOT_FOUND);
    std::wstring path = dir.file(L"locked.bin");
    tools::write_file(path, tools::byte_buffer{1});
    {
        auto lock = open_exclusive(path);
        CHECK(read_error(path) == ERROR_ACCESS_DENIED);
    }
    CHECK(contents(path) == tools::byte_buffer{1});
}

TEST_CASE("reading a file that another program has open for writing, sharing it, succeeds") {
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"key.pfx");
    tools::write_file(path, tools::byte_buffer{'k', 'e', 'y'});
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    tools::auto_kernel_handle writer(h);
    CHECK(read_error(path) == 0);
    CHECK(contents(path) == tools::byte_buffer{'k', 'e', 'y'});
}

TEST_CASE("a write that cannot complete leaves the old file as it was and nothing partial") {
    testing::scratch_dir dir;
    CHECK(write_error(dir.file(L"no-folder\\key.pfx"), {1, 2}) == ERROR_FILE_NOT_FOUND);

    std::wstring path = dir.file(L"key.pfx");
    tools::byte_buffer original{'o', 'l', 'd'};
    tools::write_file(path, original);
    {
        // Another program holds the file open without sharing: the replacement fails with the real error.
        auto lock = open_exclusive(path);
        DWORD error = write_error(path, {'n', 'e', 'w', '!'});
        CHECK(error != 0);
    }
    CHECK(contents(path) == original);
    CHECK(files_in(dir.path()) == 1);

    // A read-only file is refused and kept.
    REQUIRE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK(write_error(path, {'n'}) == ERROR_ACCESS_DENIED);
    CHECK(contents(path) == original);
    CHECK(files_in(dir.path()) == 1);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A folder where the file should be is refused.
    CreateDirectoryW(dir.file(L"sub").c_str(), nullptr);
    CHECK(write_error(dir.file(L"sub"), {'x'}) == ERROR_ACCESS_DENIED);
    CHECK(files_in(dir.path()) == 1);
}
