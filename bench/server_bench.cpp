// The storage server as its clients meet it, across processes, set against what the platform costs
// without it: copying a file in and out (against a bare local server of our own), listing folders,
// a file's digest (against MD5 in memory) and defragmenting (against a bare copy of the file).
// server_bench [--copy-kib N] [--files a,b,c] [--digest-kib N] [--defrag-kib N] [--reps R] [--list-reps R]
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <tools/bstr.h>
#include "bench_support.h"

#include <objbase.h>
#include <oleauto.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

#include <bare_server.h>
#include <orrisafe.h>
#include <server/element_store.h>
#include <tools/com_error.h>
#include <tools/interface_holder.h>
#include <tools/md5.h>

namespace {

using tools::interface_holder;

using tools::bstr;
constexpr size_t block = 4096;
constexpr DWORD open_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;


interface_holder<IBareStreamServer> connect_bare() {
    interface_holder<IBareStreamServer> bare;
    bench::check(CoCreateInstance(CLSID_BareStreamServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IBareStreamServer, bare.put_void()),
                 "activating the bare server");
    return bare;
}

void create_empty(const std::wstring& path) {
    interface_holder<IStorage> storage;
    bench::check(StgCreateDocfile(path.c_str(), STGM_CREATE | open_mode, 0, storage.put()), "StgCreateDocfile");
}

StorageHolder open_store(const std::wstring& path) {
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    bench::check(hr, "OpenStorageFile");
    return root;
}

void write_blocks(IStream* stream, const std::vector<unsigned char>& bytes) {
    for (size_t at = 0; at < bytes.size(); at += block) {
        ULONG chunk = static_cast<ULONG>(std::min(block, bytes.size() - at)), written = 0;
        bench::check(stream->Write(bytes.data() + at, chunk, &written), "IStream::Write");
        if (written != chunk) throw std::runtime_error("short write");
    }
}

void read_blocks(IStream* stream, size_t expected) {
    std::vector<unsigned char> buffer(block);
    size_t total = 0;
    for (;;) {
        ULONG read = 0;
        bench::check(stream->Read(buffer.data(), static_cast<ULONG>(block), &read), "IStream::Read");
        if (read == 0) break;
        total += read;
    }
    if (total != expected) throw std::runtime_error("read back a wrong byte count");
}

interface_holder<IStorageFile> open_server_file(IStorageServer* server, const std::wstring& path, const std::wstring& name,
                                                bool create) {
    auto root = OpenStorageOrThrow(server, path);
    return OpenFileOrThrow(root.get(), name, create ? VARIANT_TRUE : VARIANT_FALSE);
}

// 1. A file's bytes in and out in 4096-byte blocks: through the storage server and through the bare server.
void copy_in_out(const bench::scratch& dir, long long kib, int reps) {
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    std::wstring served = dir.file(L"copy.orrisafe"), bare_path = dir.file(L"copy-bare.orrisafe");
    auto server = ConnectServer();
    auto bare = connect_bare();
    std::vector<double> server_in, server_out, bare_in, bare_out;
    for (int i = 0; i < reps; ++i) {
        create_empty(served);
        server_in.push_back(bench::seconds([&] {
            {
                auto file = open_server_file(server.get(), served, L"data.bin", true);
                auto stream = GetStreamOrThrow(file.get());
                write_blocks(stream.get(), bytes);
            }
            CloseStorageOrThrow(server.get(), served);
        }));
        server_out.push_back(bench::seconds([&] {
            {
                auto file = open_server_file(server.get(), served, L"data.bin", false);
                auto stream = GetStreamOrThrow(file.get());
                read_blocks(stream.get(), bytes.size());
            }
            CloseStorageOrThrow(server.get(), served);
        }));
        bare_in.push_back(bench::seconds([&] {
            {
                interface_holder<IStream> stream;
                bench::check(bare->OpenStream(bstr(bare_path), bstr(L"data.bin"), VARIANT_TRUE, stream.put()), "OpenStream");
                write_blocks(stream.get(), bytes);
            }
            bench::check(bare->CloseFile(), "CloseFile");
        }));
        bare_out.push_back(bench::seconds([&] {
            {
                interface_holder<IStream> stream;
                bench::check(bare->OpenStream(bstr(bare_path), bstr(L"data.bin"), VARIANT_FALSE, stream.put()), "OpenStream");
                read_blocks(stream.get(), bytes.size());
            }
            bench::check(bare->CloseFile(), "CloseFile");
        }));
    }
    for (bool in : {true, false}) {
        bench::print({
            .bench = "1 copy via server",
            .what = bench::size_text(kib) + " " + (in ? "in" : "out") + ", 4096-byte blocks",
            .unit = "s",
            .subject = in ? "orriserver Write" : "orriserver Read",
            .subject_value = bench::median(in ? server_in : server_out),
            .baseline = "bare local server",
            .baseline_value = bench::median(in ? bare_in : bare_out),
        });
    }
}

// A storage with one folder of n files, made in-process and closed.
void make_folder_store(const std::wstring& path, long long n) {
    create_empty(path);
    StorageHolder root = open_store(path);
    StorageHolder folder = OpenChildStorage(*root, L"Folder", true);
    bench::check(folder ? S_OK : root->LastResult(), "OpenChildStorage");
    for (long long i = 0; i < n; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"File %06lld.txt", i);
        StreamHolder file = OpenChildStream(*folder, name, true);
        bench::check(file ? S_OK : folder->LastResult(), "OpenChildStream");
    }
}

// 3. Listing a folder through the server (EnumElements, then Next and the name of each) against the
// compound file's own listing of the same folder.
void list_through_server(const bench::scratch& dir, const std::vector<long long>& sizes, int reps) {
    auto server = ConnectServer();
    std::vector<double> served_times, plain_times;
    for (long long n : sizes) {
        std::wstring path = dir.file(L"list" + std::to_wstring(n) + L".orrisafe");
        make_folder_store(path, n);
        size_t listed = 0;
        {
            auto root = OpenStorageOrThrow(server.get(), path);
            auto folder = OpenFolderOrThrow(root.get(), L"Folder", VARIANT_FALSE);
            served_times.push_back(bench::median_seconds(reps, [&] {
                auto elements = EnumElementsOrThrow(folder.get());
                listed = 0;
                while (auto info = NextOrThrow(elements.get())) {
                    GetNameOrThrow(info.get());
                    ++listed;
                }
            }));
        }
        CloseStorageOrThrow(server.get(), path);
        if (listed != static_cast<size_t>(n)) throw std::runtime_error("the server listed a wrong count");
        StorageHolder root = open_store(path);
        StorageHolder folder = OpenChildStorage(*root, L"Folder", false);
        bench::check(folder ? S_OK : root->LastResult(), "OpenChildStorage");
        plain_times.push_back(bench::median_seconds(reps, [&] {
            interface_holder<IEnumSTATSTG> elements;
            bench::check(folder->Storage()->EnumElements(0, nullptr, 0, elements.put()), "IStorage::EnumElements");
            STATSTG stat{};
            while (elements->Next(1, &stat, nullptr) == S_OK) CoTaskMemFree(stat.pwcsName);
        }));
        bench::print({
            .bench = "3 list via server",
            .what = std::to_string(n) + " files",
            .unit = "us/item",
            .subject = "EnumElements/Next/GetName",
            .subject_value = served_times.back() * 1e6 / static_cast<double>(n),
            .baseline = "IStorage::EnumElements",
            .baseline_value = plain_times.back() * 1e6 / static_cast<double>(n),
            .note = "each item crosses as an object of its own; the raw listing runs in-process",
        });
    }
    bench::print_growth("3 list via server", sizes, "EnumElements/Next/GetName", served_times, plain_times);
}

// 4. The server's digest of a file against MD5 over the same bytes in memory.
void digest(const bench::scratch& dir, long long kib, int reps) {
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    std::wstring path = dir.file(L"digest.orrisafe");
    create_empty(path);
    {
        StorageHolder root = open_store(path);
        StreamHolder file = OpenChildStream(*root, L"data.bin", true);
        bench::check(file ? S_OK : root->LastResult(), "OpenChildStream");
        write_blocks(file->Stream(), bytes);
    }
    // What the digest must be: the XOR of the MD5 digests of the successive 4096-byte blocks.
    tools::md5_hasher hasher;
    unsigned char expected[16]{};
    for (size_t at = 0; at < bytes.size(); at += block) {
        tools::md5_digest part = hasher.digest(bytes.data() + at, std::min(block, bytes.size() - at));
        for (int i = 0; i < 16; ++i) expected[i] ^= part[i];
    }
    auto server = ConnectServer();
    StreamDigest got{};
    double served = 0;
    {
        auto file = open_server_file(server.get(), path, L"data.bin", false);
        served = bench::median_seconds(reps, [&] { got = GetDigestOrThrow(file.get()); });
    }
    CloseStorageOrThrow(server.get(), path);
    if (std::memcmp(&got, expected, 16) != 0) throw std::runtime_error("GetDigest differs from the blocks' MD5 digests");
    double plain = bench::median_seconds(reps, [&] { hasher.digest(bytes.data(), bytes.size()); });
    bench::print({
        .bench = "4 digest",
        .what = bench::size_text(kib) + "",
        .unit = "s",
        .subject = "GetDigest",
        .subject_value = served,
        .baseline = "MD5 in memory",
        .baseline_value = plain,
    });
}

ULONGLONG file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) throw std::runtime_error("no file size");
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string mib_text(ULONGLONG bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MiB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

// 5. Defragmenting a storage of which half the files were deleted, against copying the same file into a
// new compound file with CopyTo.
void defragment(const bench::scratch& dir, long long kib, int reps) {
    constexpr int files = 32;
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    size_t each = bytes.size() / files;
    std::wstring original = dir.file(L"defrag.orrisafe");
    create_empty(original);
    {
        StorageHolder root = open_store(original);
        for (int i = 0; i < files; ++i) {
            StreamHolder file = OpenChildStream(*root, L"File " + std::to_wstring(i), true);
            bench::check(file ? S_OK : root->LastResult(), "OpenChildStream");
            std::vector<unsigned char> part(bytes.begin() + static_cast<ptrdiff_t>(i * each),
                                            bytes.begin() + static_cast<ptrdiff_t>((i + 1) * each));
            write_blocks(file->Stream(), part);
        }
        for (int i = 0; i < files; i += 2)
            if (!DeleteChild(*root, L"File " + std::to_wstring(i))) bench::check(root->LastResult(), "DeleteChild");
    }
    ULONGLONG before = file_size(original);
    auto server = ConnectServer();
    std::wstring served = dir.file(L"defrag-served.orrisafe"), source = dir.file(L"defrag-source.orrisafe"),
                 copy = dir.file(L"defrag-copy.orrisafe");
    std::vector<double> served_times, plain_times;
    ULONGLONG after = 0, copied = 0;
    for (int i = 0; i < reps; ++i) {
        if (!CopyFileW(original.c_str(), served.c_str(), FALSE) || !CopyFileW(original.c_str(), source.c_str(), FALSE))
            throw std::runtime_error("CopyFile failed");
        served_times.push_back(bench::seconds([&] { DefragmentOrThrow(server.get(), served); }));
        after = file_size(served);
        plain_times.push_back(bench::seconds([&] {
            interface_holder<IStorage> from, to;
            bench::check(StgOpenStorageEx(source.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                                          IID_IStorage, from.put_void()),
                         "StgOpenStorageEx");
            bench::check(StgCreateDocfile(copy.c_str(), STGM_CREATE | open_mode, 0, to.put()), "StgCreateDocfile");
            bench::check(from->CopyTo(0, nullptr, nullptr, to.get()), "IStorage::CopyTo");
            bench::check(to->Commit(STGC_DEFAULT), "IStorage::Commit");
        }));
        copied = file_size(copy);
    }
    bench::print({
        .bench = "5 defragment",
        .what = bench::size_text(kib) + ", half the files deleted",
        .unit = "s",
        .subject = "Defragment",
        .subject_value = bench::median(served_times),
        .baseline = "CopyTo a new file",
        .baseline_value = bench::median(plain_times),
        .note = "file " + mib_text(before) + " before, " + mib_text(after) + " after (the bare copy: " + mib_text(copied) + ")",
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    {
        bench::scratch dir(L"server");
        int reps = static_cast<int>(args.number(L"reps", 3));
        failures += bench::attempt("1 copy via server", [&] { copy_in_out(dir, args.number(L"copy-kib", 16384), reps); });
        failures += bench::attempt("3 list via server",
                            [&] {
            // Each listed item is a few calls across processes: one listing of the largest folder takes minutes.
            list_through_server(dir, args.numbers(L"files", {100, 1000, 10000}), static_cast<int>(args.number(L"list-reps", 1)));
        });
        failures += bench::attempt("4 digest", [&] { digest(dir, args.number(L"digest-kib", 16384), reps); });
        failures += bench::attempt("5 defragment", [&] { defragment(dir, args.number(L"defrag-kib", 65536), reps); });
    }
    CoUninitialize();
    return failures ? 1 : 0;
}
