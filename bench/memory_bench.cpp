// The storage service's memory over many clients: the walk Explorer windows, file dialogs and the monitor
// make (activate, open a storage, list it, read every file and its digest, close it) repeated by one client,
// and made once each by fresh client processes, with the service's working set read after a warm-up and at
// the end. Sound is flat: what a walk leaves behind, multiplied by every client of a running machine, is what
// the service grows by.
// memory_bench [--rounds N] [--clients N] [--warmup N] [--files N] [--file-kib N] [--settle-ms N]
// memory_bench --walk <storage path>   (one fresh client: the program runs itself as one)
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/server_identity.h>
#include "bench_support.h"

#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <orrisafe.h>
#include <server/element_store.h>
#include <tools/auto_handle.h>

namespace {

using tools::bstr;

// Reads every file of a folder and its digest, and walks every folder below it.
void walk_folder(IStorageFolder* folder) {
    auto elements = EnumElementsOrThrow(folder);
    while (auto info = NextOrThrow(elements.get())) {
        bstr name = GetNameOrThrow(info.get());
        if (GetTypeOrThrow(info.get()) == FolderElementType) {
            walk_folder(OpenFolderOrThrow(folder, name, VARIANT_FALSE).get());
            continue;
        }
        auto file = OpenFileOrThrow(folder, name, VARIANT_FALSE);
        auto stream = GetStreamOrThrow(file.get());
        char block[4096];
        for (ULONG read = sizeof block; read == sizeof block;) bench::check(stream->Read(block, sizeof block, &read), "IStream::Read");
        GetDigestOrThrow(file.get());
    }
}

// One walk, as a client makes it: each is an activation of its own.
void walk(const std::wstring& path) {
    auto server = ConnectServer();
    walk_folder(OpenStorageOrThrow(server.get(), path).get());
    CloseStorageOrThrow(server.get(), path);
}

// A storage of a folder with files in it and files beside it, made in-process and closed.
void make_store(const std::wstring& path, long long files, long long kib) {
    {
        tools::interface_holder<IStorage> storage;
        bench::check(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()),
                     "StgCreateDocfile");
    }
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    bench::check(hr, "OpenStorageFile");
    StorageHolder folder = OpenChildStorage(*root, L"Folder", true);
    bench::check(folder ? S_OK : root->LastResult(), "OpenChildStorage");
    std::vector<unsigned char> bytes = bench::filler(static_cast<size_t>(kib) << 10);
    for (long long i = 0; i < files; ++i) {
        CStorageWrapper& parent = i % 2 ? *folder : *root;
        StreamHolder file = OpenChildStream(parent, L"File " + std::to_wstring(i) + L".bin", true);
        bench::check(file ? S_OK : parent.LastResult(), "OpenChildStream");
        ULONG written = 0;
        bench::check(file->Stream()->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), "IStream::Write");
    }
}

// The service's process, found as the control manager knows it.
tools::auto_kernel_handle open_service_process() {
    tools::auto_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) throw std::runtime_error("OpenSCManager failed");
    tools::auto_service_handle service(OpenServiceW(manager.get(), server::service_name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                          sizeof status, &size) ||
        status.dwCurrentState != SERVICE_RUNNING)
        throw std::runtime_error("the service is not running");
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, status.dwProcessId);
    if (!process) throw std::runtime_error("the service's process cannot be opened");
    return tools::auto_kernel_handle(process);
}

// The service's working set, in MiB.
double working_set(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) throw std::runtime_error("GetProcessMemoryInfo failed");
    return static_cast<double>(counters.WorkingSetSize) / 1048576.0;
}

// How long each reading of the working set waits for it to settle.
DWORD settle_ms = 2000;

// The working set once the threads that served the last walk have ended: the least of the readings over
// settle_ms (each client's connection is served by a thread of its own, whose stack comes and goes).
double settled_working_set(HANDLE process) {
    double least = working_set(process);
    for (DWORD waited = 0; waited < settle_ms; waited += 200) {
        Sleep(200);
        least = std::min(least, working_set(process));
    }
    return least;
}

// One fresh client: this program run again, walking once; it must end well.
void walk_in_new_process(const std::wstring& path) {
    wchar_t program[MAX_PATH]{};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --walk \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        throw std::runtime_error("a client process could not be started");
    CloseHandle(started.hThread);
    tools::auto_kernel_handle process(started.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    if (code != 0) throw std::runtime_error("a client process failed its walk");
}

std::string mib_list(const std::vector<double>& values) {
    std::string text;
    for (double v : values) {
        char one[32];
        std::snprintf(one, sizeof one, "%s%.2f", text.empty() ? "" : ", ", v);
        text += one;
    }
    return text + " MiB";
}

// Warms up with warmup walks, then makes rounds walks, reading the settled working set after the warm-up and
// after each quarter of the rounds (the last is the end).
void measure(const char* what, const char* unit_name, HANDLE service, long long warmup, long long rounds,
             const std::function<void()>& one_walk) {
    for (long long i = 0; i < warmup; ++i) one_walk();
    double start = settled_working_set(service);
    std::vector<double> quarters;
    for (long long i = 1; i <= rounds; ++i) {
        one_walk();
        while (quarters.size() < 4 && i >= rounds * static_cast<long long>(quarters.size() + 1) / 4)
            quarters.push_back(settled_working_set(service));
    }
    double end = quarters.back();
    char per_unit[64];
    std::snprintf(per_unit, sizeof per_unit, "%.1f KiB per %s; after each quarter: ",
                  (end - start) * 1024.0 / static_cast<double>(rounds), unit_name);
    bench::print({
        .bench = "10 service memory",
        .what = what,
        .unit = "MiB",
        .subject = "working set at the end",
        .subject_value = end,
        .baseline = "after " + std::to_string(warmup) + " to warm up",
        .baseline_value = start,
        .note = per_unit + mib_list(quarters),
    });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bench::options args(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    std::wstring walk_path = args.text(L"walk", L"");
    if (!walk_path.empty()) {
        try {
            walk(walk_path);
        } catch (...) {
            failures = 1;
        }
    } else {
        bench::scratch dir(L"memory");
        std::wstring path = dir.file(L"walked.orrisafe");
        long long rounds = args.number(L"rounds", 2000), clients = args.number(L"clients", 200),
                  warmup = args.number(L"warmup", 20);
        settle_ms = static_cast<DWORD>(args.number(L"settle-ms", 2000));
        failures += bench::attempt("10 service memory", [&] {
            make_store(path, args.number(L"files", 8), args.number(L"file-kib", 16));
            walk(path);  // starts the service
            auto service = open_service_process();
            measure((std::to_string(rounds) + " walks from one client").c_str(), "walk", service.get(), warmup, rounds,
                    [&] { walk(path); });
            measure((std::to_string(clients) + " walks, each from a new client").c_str(), "client", service.get(),
                    warmup, clients, [&] { walk_in_new_process(path); });
        });
    }
    CoUninitialize();
    return failures ? 1 : 0;
}
