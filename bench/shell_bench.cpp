// The storage folder opened as Explorer opens one: EnumObjects over a folder of files, its enumerator drained, set
// against the server's own listing of the same folder in the same run, with the calls that cross to the server
// counted per item (and while the enumerator is drained, when there should be none).
// shell_bench [--files N] [--reps R]
#include "bench_support.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <stdexcept>

#include <server/client/server_calls.h>
#include <server/element_store.h>
#include <shell/storage_key_map.h>
#include <shell/storage_shell_folder.h>
#include <tools/com_error.h>
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

// A storage made as the wizard makes one, with n empty files at its root, written in-process before any server
// opens it.
std::wstring make_storage(const bench::scratch& dir, long long n) {
    CStorageCreationRequest request;
    request.storage_path = dir.file(L"opened.orrisafe");
    request.key_file_path = dir.file(L"opened.pfx");
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

void open_folder(long long n, int reps) {
    call_counter counter;
    bench::check(CoRegisterChannelHook(counter_extension, &counter), "CoRegisterChannelHook");
    bench::scratch dir(L"shell");
    const std::wstring path = make_storage(dir, n);

    tools::interface_holder<CStorageShellFolder> folder(new CStorageShellFolder());
    CIdList list(ILCreateFromPathW(path.c_str()));
    bench::check(folder->Initialize(list.get()), "IPersistFolder::Initialize");
    // The key is not installed here: the folder's key is entered as an unlocked one would be.
    const GUID id = folder->GetFolderStorageId();
    CStorageKeyMap::Instance().Register(id, ContentKey(tools::byte_buffer(16, 0x42)), {});

    size_t listed = 0;
    LONG enumerating = 0, draining = 0;
    auto enumerate = [&] {
        tools::interface_holder<IEnumIDList> items;
        const LONG start = counter.calls;
        bench::check(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()), "EnumObjects");
        const LONG listed_at = counter.calls;
        listed = 0;
        ITEMIDLIST* item = nullptr;
        while (items->Next(1, &item, nullptr) == S_OK) {
            ILFree(item);
            ++listed;
        }
        enumerating = listed_at - start;
        draining = counter.calls - listed_at;
    };
    enumerate();  // the thread's proxy of the folder is made on the first call
    const double subject = bench::median_seconds(reps, enumerate);
    if (listed != static_cast<size_t>(n)) throw std::runtime_error("EnumObjects listed a wrong count");

    auto server = folder->GetServer();
    LONG served_calls = 0;
    const double baseline = bench::median_seconds(reps, [&] {
        const LONG start = counter.calls;
        auto elements = EnumElementsOrThrow(server.get());
        listed = 0;
        while (auto info = NextOrThrow(elements.get())) {
            GetNameOrThrow(info.get());
            ++listed;
        }
        elements.reset();
        served_calls = counter.calls - start;
    });
    if (listed != static_cast<size_t>(n)) throw std::runtime_error("the server listed a wrong count");
    server.reset();
    folder.reset();
    CStorageKeyMap::Instance().Remove(id);

    const double items = static_cast<double>(n);
    char note[200];
    std::snprintf(note, sizeof note,
                  "server calls per item: %.2f through the folder, %.2f in the server's own listing; %ld while the "
                  "enumerator is drained",
                  enumerating / items, served_calls / items, static_cast<long>(draining));
    bench::row r;
    r.bench = "8 open folder";
    r.what = std::to_string(n) + " files";
    r.unit = "us/item";
    r.subject = "EnumObjects + IEnumIDList::Next";
    r.subject_value = subject * 1e6 / items;
    r.baseline = "EnumElements/Next/GetName";
    r.baseline_value = baseline * 1e6 / items;
    r.note = note;
    bench::print(r);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    try {
        open_folder(args.number(L"files", 1000), static_cast<int>(args.number(L"reps", 3)));
    } catch (const std::exception& e) {
        bench::print_failure("8 open folder", "", e.what());
        failures = 1;
    } catch (const _com_error& e) {
        char text[64];
        std::snprintf(text, sizeof text, "a call failed: 0x%08lX", static_cast<unsigned long>(e.Error()));
        bench::print_failure("8 open folder", "", text);
        failures = 1;
    }
    CoUninitialize();
    return failures;
}
