// The element store in-process, set against the compound file underneath it: writing a file's bytes
// and listing folders of growing size.
// store_bench [--kib N] [--block bytes] [--files 100,1000,10000] [--reps R]
#include "bench_support.h"

#include <objbase.h>
#include <cstdio>
#include <algorithm>
#include <exception>
#include <stdexcept>

#include <platform/compound_file_check.h>
#include <server/element_store.h>
#include <tools/interface_holder.h>

namespace {

constexpr DWORD open_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

void create_empty(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    bench::check(StgCreateDocfile(path.c_str(), STGM_CREATE | open_mode, 0, storage.put()), "StgCreateDocfile");
}

void write_all(IStream* stream, const std::vector<unsigned char>& bytes, size_t block) {
    for (size_t at = 0; at < bytes.size(); at += block) {
        ULONG chunk = static_cast<ULONG>(std::min(block, bytes.size() - at)), written = 0;
        bench::check(stream->Write(bytes.data() + at, chunk, &written), "IStream::Write");
        if (written != chunk) throw std::runtime_error("short write");
    }
}

StorageHolder open_store(const std::wstring& path) {
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    bench::check(hr, "OpenStorageFile");
    return root;
}

// The same bytes into a new file's stream: through the element store, and straight into the compound file.
void store_write(const bench::scratch& dir, long long kib, size_t block, int reps) {
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    std::wstring path = dir.file(L"write.orrisafe");
    std::vector<double> store, plain;
    for (int i = 0; i < reps; ++i) {
        create_empty(path);
        store.push_back(bench::seconds([&] {
            StorageHolder root = open_store(path);
            StreamHolder file = OpenChildStream(*root, L"data.bin", true);
            bench::check(file ? S_OK : root->LastResult(), "OpenChildStream");
            write_all(file->Stream(), bytes, block);
        }));
        create_empty(path);
        plain.push_back(bench::seconds([&] {
            tools::interface_holder<IStorage> root;
            bench::check(StgOpenStorageEx(path.c_str(), open_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage,
                                          root.put_void()),
                         "StgOpenStorageEx");
            tools::interface_holder<IStream> stream;
            bench::check(root->CreateStream(L"data.bin", STGM_CREATE | open_mode, 0, 0, stream.put()), "CreateStream");
            write_all(stream.get(), bytes, block);
        }));
    }
    bench::print({
        .bench = "2 store write",
        .what = bench::size_text(kib) + " in " + std::to_string(block) + "-byte blocks",
        .unit = "s",
        .subject = "OpenChildStream + IStream::Write",
        .subject_value = bench::median(store),
        .baseline = "compound-file stream",
        .baseline_value = bench::median(plain),
    });
}

// The structure check that runs before every storage file is opened, set against opening the file, on
// the file of row 2 and on the same bytes in a file of 4096-byte sectors.
void structure_check(const bench::scratch& dir, long long kib, int reps) {
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    for (ULONG sector_size : {512u, 4096u}) {
        std::wstring path = dir.file(L"write.orrisafe");
        if (sector_size != 512) {
            path = dir.file(L"check.orrisafe");
            STGOPTIONS options{};
            options.usVersion = 1;
            options.ulSectorSize = sector_size;
            tools::interface_holder<IStorage> root;
            bench::check(StgCreateStorageEx(path.c_str(), STGM_CREATE | open_mode, STGFMT_DOCFILE, 0, &options,
                                            nullptr, IID_IStorage, root.put_void()),
                         "StgCreateStorageEx");
            tools::interface_holder<IStream> stream;
            bench::check(root->CreateStream(L"data.bin", open_mode, 0, 0, stream.put()), "CreateStream");
            write_all(stream.get(), bytes, 65536);
        }
        bench::print({
            .bench = "7 structure check",
            .what = bench::size_text(kib) + ", " + std::to_string(sector_size) + "-byte sectors",
            .unit = "ms",
            .subject = "check_compound_file",
            .subject_value = 1e3 * bench::median_seconds(reps, [&] {
                bench::check(platform::check_compound_file(path.c_str()), "check_compound_file");
            }),
            .baseline = "StgOpenStorageEx + Release",
            .baseline_value = 1e3 * bench::median_seconds(reps, [&] {
                tools::interface_holder<IStorage> root;
                bench::check(StgOpenStorageEx(path.c_str(), open_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage,
                                              root.put_void()),
                             "StgOpenStorageEx");
            }),
            .note = "the check reads the header, the whole FAT and the directory; the platform's open, the header",
        });
    }
}

// The time to list a folder of n files, each way, on the same file.
struct listing {
    double store = 0, plain = 0;
};

listing list_folder(const bench::scratch& dir, long long n, int reps) {
    std::wstring path = dir.file(L"list" + std::to_wstring(n) + L".orrisafe");
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
    listing result;
    size_t listed = 0;
    result.store = bench::median_seconds(reps, [&] {
        std::vector<ChildRecord> children;
        if (!EnumChildren(*folder, children)) bench::check(folder->LastResult(), "EnumChildren");
        listed = children.size();
    });
    if (listed != static_cast<size_t>(n)) throw std::runtime_error("EnumChildren listed a wrong count");
    result.plain = bench::median_seconds(reps, [&] {
        tools::interface_holder<IEnumSTATSTG> elements;
        bench::check(folder->Storage()->EnumElements(0, nullptr, 0, elements.put()), "IStorage::EnumElements");
        STATSTG stat{};
        while (elements->Next(1, &stat, nullptr) == S_OK) CoTaskMemFree(stat.pwcsName);
    });
    return result;
}

void store_listing(const bench::scratch& dir, const std::vector<long long>& sizes, int reps) {
    std::vector<double> store_times, plain_times;
    for (long long n : sizes) {
        listing t = list_folder(dir, n, reps);
        store_times.push_back(t.store);
        plain_times.push_back(t.plain);
        bench::print({
            .bench = "3 list in-process",
            .what = std::to_string(n) + " files",
            .unit = "us/item",
            .subject = "EnumChildren",
            .subject_value = t.store * 1e6 / static_cast<double>(n),
            .baseline = "IStorage::EnumElements",
            .baseline_value = t.plain * 1e6 / static_cast<double>(n),
            .note = "the raw listing also meets each file's property-set stream",
        });
    }
    bench::print_growth("3 list in-process", sizes, "EnumChildren", store_times, plain_times);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    {
        bench::scratch dir(L"store");
        int reps = static_cast<int>(args.number(L"reps", 3));
        try {
            store_write(dir, args.number(L"kib", 65536), static_cast<size_t>(args.number(L"block", 4096)), reps);
        } catch (const std::exception& e) {
            bench::print_failure("2 store write", "", e.what());
            ++failures;
        }
        try {
            structure_check(dir, args.number(L"kib", 65536), reps);
        } catch (const std::exception& e) {
            bench::print_failure("7 structure check", "", e.what());
            ++failures;
        }
        try {
            store_listing(dir, args.numbers(L"files", {100, 1000, 10000}), reps);
        } catch (const std::exception& e) {
            bench::print_failure("3 list in-process", "", e.what());
            ++failures;
        }
    }
    CoUninitialize();
    return failures ? 1 : 0;
}
