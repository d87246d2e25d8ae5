// The storage folder as Explorer uses one. Opened: EnumObjects over a folder of files, its enumerator drained, set
// against the server's own listing of the same folder in the same run, with the calls that cross to the server
// counted per item (and while the enumerator is drained, when there should be none). Files in and out: one large file
// and a folder of small files dropped onto the folder's drop target and read back through its data object's
// FileContents, each set against the same bytes moved through the server's own file streams.
// shell_bench [--files N] [--transfer-kib K] [--transfer-files N] [--reps R]
#include "bench_support.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <server/client/server_calls.h>
#include <server/element_store.h>
#include <shell/storage_data_object.h>
#include <shell/storage_key_map.h>
#include <shell/storage_shell_folder.h>
#include <server/idl/storage_identities.h>
#include <tools/auto_handle.h>
#include <tools/com_error.h>
#include <tools/file_io.h>
#include <wizard/storage_creation.h>

namespace {

// Every call this process makes through a proxy asks the channel hooks for the size of their data: counting those
// questions counts the calls that leave the process (or the apartment).
class call_counter final : public IChannelHook {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IChannelHook) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    void STDMETHODCALLTYPE ClientGetSize(REFGUID, REFIID, ULONG* size) override {
        InterlockedIncrement(&calls);
        *size = 0;
    }
    void STDMETHODCALLTYPE ClientFillBuffer(REFGUID, REFIID, ULONG* size, void*) override { *size = 0; }
    void STDMETHODCALLTYPE ClientNotify(REFGUID, REFIID, ULONG, void*, DWORD, HRESULT) override {}
    void STDMETHODCALLTYPE ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}
    void STDMETHODCALLTYPE ServerGetSize(REFGUID, REFIID, HRESULT, ULONG* size) override { *size = 0; }
    void STDMETHODCALLTYPE ServerFillBuffer(REFGUID, REFIID, ULONG* size, void*, HRESULT) override { *size = 0; }
    volatile LONG calls = 0;
};

// {6A3C1F52-0B7E-4D21-9C3A-5E81F0B4D7A9}: the counter's extension, which adds no data to any call.
const GUID counter_extension = {0x6A3C1F52, 0x0B7E, 0x4D21, {0x9C, 0x3A, 0x5E, 0x81, 0xF0, 0xB4, 0xD7, 0xA9}};

// The calls this process has made across processes so far. A hook stays registered until the process ends (COM has
// no call to remove one): the counter lives as long.
LONG calls_made() {
    static call_counter counter;
    static const HRESULT registered = CoRegisterChannelHook(counter_extension, &counter);
    bench::check(registered, "CoRegisterChannelHook");
    return counter.calls;
}

// A storage made as the wizard makes one, with n empty files at its root, written in-process before any server
// opens it.
std::wstring make_storage(const bench::scratch& dir, const std::wstring& name, long long n) {
    CStorageCreationRequest request;
    request.storage_path = dir.file(name + L".orrisafe");
    request.key_file_path = dir.file(name + L".pfx");
    request.option = SeparateFile;
    request.common_name = L"Bench";
    request.password = L"Bench#Pass1";
    GetLocalTime(&request.end_date);
    request.end_date.wYear = static_cast<WORD>(request.end_date.wYear + 5);
    CreateStorageAndKey(request);
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(request.storage_path, &hr);
    bench::check(root ? S_OK : hr, "OpenStorageFile");
    for (long long i = 0; i < n; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"File %06lld.txt", i);
        StreamHolder file = OpenChildStream(*root, name, true);
        bench::check(file ? S_OK : root->LastResult(), "OpenChildStream");
    }
    return request.storage_path;
}

// The folder object over a storage file, its key entered as an unlocked one would be (no key is installed here).
class unlocked_folder {
public:
    explicit unlocked_folder(const std::wstring& path) : folder_(new CStorageShellFolder()) {
        CIdList list(ILCreateFromPathW(path.c_str()));
        bench::check(folder_->Initialize(list.get()), "IPersistFolder::Initialize");
        id_ = folder_->GetFolderStorageId();
        CStorageKeyMap::Instance().Register(id_, ContentKey(tools::byte_buffer(16, 0x42)), {});
    }
    ~unlocked_folder() {
        folder_.reset();
        CStorageKeyMap::Instance().Remove(id_);
    }
    unlocked_folder(const unlocked_folder&) = delete;
    unlocked_folder& operator=(const unlocked_folder&) = delete;
    CStorageShellFolder* operator->() const { return folder_.get(); }
    CStorageShellFolder* get() const { return folder_.get(); }

private:
    tools::interface_holder<CStorageShellFolder> folder_;
    GUID id_{};
};

void open_folder(long long n, int reps) {
    bench::scratch dir(L"shell");
    unlocked_folder folder(make_storage(dir, L"opened", n));

    size_t listed = 0;
    LONG enumerating = 0, draining = 0;
    auto enumerate = [&] {
        tools::interface_holder<IEnumIDList> items;
        const LONG start = calls_made();
        bench::check(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()), "EnumObjects");
        const LONG listed_at = calls_made();
        listed = 0;
        ITEMIDLIST* item = nullptr;
        while (items->Next(1, &item, nullptr) == S_OK) {
            ILFree(item);
            ++listed;
        }
        enumerating = listed_at - start;
        draining = calls_made() - listed_at;
    };
    enumerate();  // the thread's proxy of the folder is made on the first call
    const double subject = bench::median_seconds(reps, enumerate);
    if (listed != static_cast<size_t>(n)) throw std::runtime_error("EnumObjects listed a wrong count");

    auto server = folder->GetServer();
    LONG served_calls = 0;
    const double baseline = bench::median_seconds(reps, [&] {
        const LONG start = calls_made();
        auto elements = EnumElementsOrThrow(server.get());
        listed = 0;
        while (auto info = NextOrThrow(elements.get())) {
            GetNameOrThrow(info.get());
            ++listed;
        }
        elements.reset();
        served_calls = calls_made() - start;
    });
    if (listed != static_cast<size_t>(n)) throw std::runtime_error("the server listed a wrong count");
    server.reset();

    const double items = static_cast<double>(n);
    char note[200];
    std::snprintf(note, sizeof note,
                  "server calls per item: %.2f through the folder, %.2f in the server's own listing; %ld while the "
                  "enumerator is drained",
                  enumerating / items, served_calls / items, static_cast<long>(draining));
    bench::print({
        .bench = "8 open folder",
        .what = std::to_string(n) + " files",
        .unit = "us/item",
        .subject = "EnumObjects + IEnumIDList::Next",
        .subject_value = subject * 1e6 / items,
        .baseline = "EnumElements/Next/GetName",
        .baseline_value = baseline * 1e6 / items,
        .note = note,
    });
}

constexpr ULONG block_size = 4096;

// The file on disk into a new file of the folder, through the server's own stream in blocks (no content key, no
// digest): the baseline of a copy in.
void copy_through_server(IStorageFolder* folder, const std::wstring& path, const std::wstring& name) {
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) throw std::runtime_error("opening a source file failed");
    tools::auto_kernel_handle source(opened);
    auto stream = GetStreamOrThrow(OpenFileOrThrow(folder, name, VARIANT_TRUE).get());
    std::vector<unsigned char> block(block_size);
    DWORD read = 0;
    while (ReadFile(source.get(), block.data(), block_size, &read, nullptr) && read)
        bench::check(stream->Write(block.data(), read, nullptr), "IStream::Write");
}

// Every byte of the stream, read in blocks; how many.
ULONGLONG drain(IStream* stream) {
    std::vector<unsigned char> block(block_size);
    ULONGLONG total = 0;
    for (ULONG read = 0; SUCCEEDED(stream->Read(block.data(), block_size, &read)) && read; read = 0) total += read;
    return total;
}

// The baseline of a copy out: every file at and below the element read through the server's own streams.
ULONGLONG read_through_server(IStorageFolder* folder, const std::wstring& name, bool is_folder) {
    if (!is_folder) return drain(GetStreamOrThrow(OpenFileOrThrow(folder, name, VARIANT_FALSE).get()).get());
    auto child = OpenFolderOrThrow(folder, name, VARIANT_FALSE);
    auto elements = EnumElementsOrThrow(child.get());
    ULONGLONG total = 0;
    while (auto info = NextOrThrow(elements.get()))
        total += read_through_server(child.get(), GetNameOrThrow(info.get()).text(),
                                     GetTypeOrThrow(info.get()) == FolderElementType);
    return total;
}

// The shell's data object of one item of a folder.
tools::interface_holder<IDataObject> item_data(IShellFolder* folder, const std::wstring& name) {
    ITEMIDLIST* parsed = nullptr;
    bench::check(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(name.c_str()), nullptr, &parsed, nullptr),
                 "ParseDisplayName");
    CIdList item(parsed);
    const ITEMIDLIST* items[] = {item.get()};
    tools::interface_holder<IDataObject> data;
    bench::check(folder->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr, data.put_void()), "GetUIObjectOf");
    return data;
}

// A copy in as a drag from Explorer ends: entered with the left button, dropped.
void drop(CStorageShellFolder* folder, IDataObject* data) {
    DWORD effect = DROPEFFECT_COPY;
    bench::check(folder->DragEnter(data, MK_LBUTTON, POINTL{0, 0}, &effect), "DragEnter");
    effect = DROPEFFECT_COPY;
    bench::check(folder->Drop(data, 0, POINTL{0, 0}, &effect), "Drop");
    if (effect != DROPEFFECT_COPY) throw std::runtime_error("the drop did not copy");
}

// A copy out as Explorer reads virtual files: the descriptors, then each file's contents to the end; bytes read.
ULONGLONG read_virtual_files(IDataObject* data) {
    FORMATETC wanted{FileGroupDescriptorFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    bench::check(data->GetData(&wanted, &medium), "GetData(FileGroupDescriptorW)");
    std::vector<bool> files;
    if (const auto* group = static_cast<const FILEGROUPDESCRIPTORW*>(GlobalLock(medium.hGlobal))) {
        for (UINT i = 0; i < group->cItems; ++i)
            files.push_back(!(group->fgd[i].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    ULONGLONG total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i]) continue;
        FORMATETC contents{FileContentsFormat(), nullptr, DVASPECT_CONTENT, static_cast<LONG>(i), TYMED_ISTREAM};
        STGMEDIUM stream{};
        bench::check(data->GetData(&contents, &stream), "GetData(FileContents)");
        total += drain(stream.pstm);
        ReleaseStgMedium(&stream);
    }
    return total;
}

// 9. One file of kib KiB and a folder of n files of 1 KiB each, copied into the storage through the folder's drop
// target and out through its data object's FileContents, against the same bytes through the server's own streams
// (the cost the shell adds: content encryption, digests, the progress window, the data object).
void transfer(long long kib, long long n, int reps) {
    bench::scratch dir(L"transfer");
    const std::wstring big = dir.file(L"big.bin"), tree = dir.file(L"tree");
    tools::write_file(big, bench::filler(static_cast<size_t>(kib) * 1024));
    CreateDirectoryW(tree.c_str(), nullptr);
    const std::vector<unsigned char> small = bench::filler(1024);
    std::vector<std::wstring> names;
    for (long long i = 0; i < n; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"File %06lld.txt", i);
        names.push_back(name);
        tools::write_file(tree + L"\\" + name, small);
    }
    struct sources_removed {
        const std::wstring& tree;
        const std::vector<std::wstring>& names;
        ~sources_removed() {
            for (const std::wstring& name : names) DeleteFileW((tree + L"\\" + name).c_str());
            RemoveDirectoryW(tree.c_str());
        }
    } removed{tree, names};

    unlocked_folder folder(make_storage(dir, L"transfer", 0));
    auto root = folder->GetServer();
    tools::interface_holder<IShellFolder> desktop, sources;
    bench::check(SHGetDesktopFolder(desktop.put()), "SHGetDesktopFolder");
    CIdList source_list(ILCreateFromPathW(dir.file(L"").c_str()));
    bench::check(desktop->BindToObject(source_list.get(), nullptr, IID_IShellFolder, sources.put_void()),
                 "BindToObject");

    struct item {
        std::wstring name;
        std::string what;
        bool is_folder;
    };
    const item items[] = {{L"big.bin", bench::size_text(kib) + " file", false},
                          {L"tree", std::to_string(n) + " files of 1 KiB in a folder", true}};
    for (const item& it : items) {
        const std::wstring source = dir.file(it.name);
        // Calls across processes per file (per block of the large file) of one run of the copy.
        const double units = it.is_folder ? static_cast<double>(n) : static_cast<double>(kib) * 1024 / block_size;
        auto counted = [&](const std::function<void()>& copy, double& per_unit) {
            return [&copy, &per_unit, units] {
                const LONG start = calls_made();
                copy();
                per_unit = (calls_made() - start) / units;
            };
        };
        // Each copy in starts with the element absent; its removal is not measured.
        auto timed_in = [&](const std::function<void()>& copy) {
            std::vector<double> samples;
            for (int i = 0; i < std::max(reps, 1); ++i) {
                if (i) DeleteElementOrThrow(root.get(), it.name);
                samples.push_back(bench::seconds(copy));
            }
            return bench::median(samples);
        };
        double calls_server_in = 0, calls_shell_in = 0, calls_server_out = 0, calls_shell_out = 0;
        const std::function<void()> copy_in_server = [&] {
            if (!it.is_folder) return copy_through_server(root.get(), source, it.name);
            auto folder_made = OpenFolderOrThrow(root.get(), it.name, VARIANT_TRUE);
            for (const std::wstring& name : names) copy_through_server(folder_made.get(), tree + L"\\" + name, name);
        };
        const std::function<void()> copy_in_shell = [&] { drop(folder.get(), item_data(sources.get(), it.name).get()); };
        const double server_in = timed_in(counted(copy_in_server, calls_server_in));
        DeleteElementOrThrow(root.get(), it.name);
        const double shell_in = timed_in(counted(copy_in_shell, calls_shell_in));

        const ULONGLONG expected = it.is_folder ? small.size() * names.size() : static_cast<ULONGLONG>(kib) * 1024;
        ULONGLONG server_read = 0, shell_read = 0;
        const std::function<void()> copy_out_server = [&] {
            server_read = read_through_server(root.get(), it.name, it.is_folder);
        };
        const std::function<void()> copy_out_shell = [&] {
            shell_read = read_virtual_files(item_data(folder.get(), it.name).get());
        };
        const double server_out = bench::median_seconds(reps, counted(copy_out_server, calls_server_out));
        const double shell_out = bench::median_seconds(reps, counted(copy_out_shell, calls_shell_out));
        if (server_read != expected || shell_read != expected) throw std::runtime_error("a copy out read a wrong size");

        auto calls_note = [&](double shell, double server) {
            char note[160];
            std::snprintf(note, sizeof note, "server calls per %s: %.2f through the shell, %.2f through the server's streams",
                          it.is_folder ? "file" : "block", shell, server);
            return std::string(note);
        };
        bench::print({"9 transfer in", it.what, "s", "drop target (DragEnter + Drop)", shell_in,
                      "server stream Write, 4096-byte blocks", server_in, calls_note(calls_shell_in, calls_server_in)});
        bench::print({"9 transfer out", it.what, "s", "FileGroupDescriptorW + FileContents", shell_out,
                      "server stream Read, 4096-byte blocks", server_out,
                      calls_note(calls_shell_out, calls_server_out)});
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int reps = static_cast<int>(args.number(L"reps", 3));
    int failures = bench::attempt("8 open folder", [&] { open_folder(args.number(L"files", 1000), reps); });
    failures += bench::attempt("9 transfer", [&] {
        transfer(args.number(L"transfer-kib", 16384), args.number(L"transfer-files", 1000), reps);
    });
    CoUninitialize();
    return failures ? 1 : 0;
}
