// Two clients of the installed service at once, each a process of its own: one opens a storage, lists it,
// reads every file and lets go of every object, round after round; the other calls in between on a storage
// of its own. Each call, releases included, is watched: one that has not returned after hang_ms is a hang,
// and the service goes. ORRI_RELEASE_ROUNDS=<n> runs exactly n rounds instead of the suite's short run.
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <doctest.h>
#include <windows.h>
#include <comdef.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include <tools/paths.h>
#include <tools/tests/test_support.h>

#include "service_fixture.h"

using tools::bstr;

namespace {

constexpr DWORD hang_ms = 30000;   // a loaded machine stalls for seconds; a hang never ends
constexpr DWORD suite_ms = 45000;  // the suite's run: rounds until then
constexpr unsigned suite_rounds = 400;

// What the parent tells its two children: the storage each works on, the walker's rounds and the event that
// stops both.
const wchar_t walker_variable[] = L"ORRI_STRESS_WALK", caller_variable[] = L"ORRI_STRESS_CALL",
              rounds_variable[] = L"ORRI_STRESS_ROUNDS", stop_variable[] = L"ORRI_STRESS_STOP";
const wchar_t* const variables[] = {walker_variable, caller_variable, rounds_variable, stop_variable};

// The call a client started last and when; its watchdog thread reads them.
struct call_watch {
    std::atomic<DWORD> since{GetTickCount()};
    std::atomic<const char*> call{"connecting"};
    std::atomic<unsigned> rounds{0};
    std::atomic<bool> done{false};

    template <class Call>
    auto operator()(const char* what, Call&& call_it) {
        since = GetTickCount();
        call = what;
        return call_it();
    }
} watch;

// A call that does not come back is a hang, which only ending the service undoes; the client ends with 3.
DWORD WINAPI watchdog(void*) {
    for (; !watch.done; Sleep(200)) {
        if (GetTickCount() - watch.since <= hang_ms) continue;
        printf("hang in %s after %u rounds\n", watch.call.load(), watch.rounds.load());
        fflush(stdout);
        service_testing::end_service_process();
        ExitProcess(3);
    }
    return 0;
}

void read_whole(IStorageFolder* folder, const bstr& name) {
    auto file = watch("OpenFile", [&] { return OpenFileOrThrow(folder, name, VARIANT_FALSE); });
    auto stream = watch("GetStream", [&] { return GetStreamOrThrow(file.get()); });
    char block[4096];
    for (ULONG read = sizeof block; read == sizeof block;)
        if (FAILED(watch("IStream::Read", [&] { return stream->Read(block, sizeof block, &read); })))
            _com_issue_error(E_FAIL);
    watch("Release (stream)", [&] { stream.reset(); });
    watch("Release (file)", [&] { file.reset(); });
}

// Lists a folder and everything below it, reads every file, and lets go of each object on the way.
void walk(IStorageFolder* folder) {
    auto elements = watch("EnumElements", [&] { return EnumElementsOrThrow(folder); });
    while (auto info = watch("Next", [&] { return NextOrThrow(elements.get()); })) {
        bstr name = watch("GetName", [&] { return GetNameOrThrow(info.get()); });
        if (watch("GetType", [&] { return GetTypeOrThrow(info.get()); }) == FolderElementType) {
            auto inner = watch("OpenFolder", [&] { return OpenFolderOrThrow(folder, name, VARIANT_FALSE); });
            walk(inner.get());
            watch("Release (folder)", [&] { inner.reset(); });
        } else {
            read_whole(folder, name);
        }
        watch("Release (element info)", [&] { info.reset(); });
    }
    watch("Release (enumerator)", [&] { elements.reset(); });
}

// A storage of 8 files in its root and 6 more in two folders below, made through the service.
void make_storage(IStorageServer* server, const std::wstring& path) {
    STGOPTIONS options{1, 0, 512};
    tools::interface_holder<IStorage> made;
    REQUIRE(StgCreateStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, STGFMT_DOCFILE, 0,
                               &options, nullptr, IID_IStorage, made.put_void()) == S_OK);
    made.reset();
    auto root = OpenStorageOrThrow(server, bstr(path));
    auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_TRUE);
    auto deep = OpenFolderOrThrow(docs.get(), bstr(L"deep"), VARIANT_TRUE);
    std::string data(9000, 'r');
    for (int i = 0; i < 14; ++i) {
        IStorageFolder* folder = i < 8 ? root.get() : i < 11 ? docs.get() : deep.get();
        auto file = OpenFileOrThrow(folder, bstr(L"file " + std::to_wstring(i) + L".txt"), VARIANT_TRUE);
        REQUIRE(GetStreamOrThrow(file.get())->Write(data.data(), static_cast<ULONG>(i * 600), nullptr) == S_OK);
    }
}

// One of the two clients, in a child process: walks the storage at path round after round, or calls in
// between on it, until the walker's rounds are done or the stop event is set.
void run_client(bool walker, const std::wstring& path) {
    testing::com_apartment com;
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, testing::env(stop_variable).c_str());
    REQUIRE(stop);
    const unsigned rounds = std::stoul(testing::env(rounds_variable));
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    const DWORD started = GetTickCount();
    auto stopped = [&] { return WaitForSingleObject(stop, 0) != WAIT_TIMEOUT; };
    HRESULT failure = S_OK;
    try {
        auto server = watch("ConnectServer", [] { return ConnectServer(); });
        if (walker) {
            // The root goes with the last reference to it: every round opens the file anew.
            for (; watch.rounds < rounds && !stopped(); ++watch.rounds) {
                if (watch.rounds % 200 == 0)
                    printf("walker: round %u after %lu s\n", watch.rounds.load(), (GetTickCount() - started) / 1000);
                auto root = watch("OpenStorage", [&] { return OpenStorageOrThrow(server.get(), bstr(path)); });
                walk(root.get());
                watch("Release (root)", [&] { root.reset(); });
            }
        } else {
            auto root = watch("OpenStorage", [&] { return OpenStorageOrThrow(server.get(), bstr(path)); });
            for (; !stopped(); ++watch.rounds) {
                watch("IsStorageOpen", [&] { return IsStorageOpenOrThrow(server.get(), bstr(path)); });
                auto elements = watch("EnumElements", [&] { return EnumElementsOrThrow(root.get()); });
                auto info = watch("Next", [&] { return NextOrThrow(elements.get()); });
                watch("GetSize", [&] { return GetSizeOrThrow(info.get()); });
                auto found = watch("FindElementInfo", [&] { return FindElementInfoOrThrow(root.get(), bstr(L"docs\\deep")); });
                watch("GetName", [&] { return GetNameOrThrow(found.get()); });
                watch("Release (element info)", [&] { info.reset(); });
                watch("Release (element info)", [&] { found.reset(); });
                watch("Release (enumerator)", [&] { elements.reset(); });
            }
            watch("Release (root)", [&] { root.reset(); });
        }
        watch("Release (server)", [&] { server.reset(); });
    } catch (const _com_error& e) {
        failure = e.Error();
    }
    watch.done = true;
    printf("%s: %u rounds in %lu s, %s 0x%08lX\n", walker ? "walker" : "caller", watch.rounds.load(),
           (GetTickCount() - started) / 1000, FAILED(failure) ? "failed with" : "ended with",
           static_cast<unsigned long>(failure));
    fflush(stdout);
    CloseHandle(stop);
    CHECK(failure == S_OK);
}

}  // namespace

// Run only as the children that the stress case starts.
TEST_CASE("release stress client: the walker") {
    if (std::wstring path = testing::env(walker_variable); !path.empty()) run_client(true, path);
}
TEST_CASE("release stress client: the caller") {
    if (std::wstring path = testing::env(caller_variable); !path.empty()) run_client(false, path);
}

TEST_CASE("a client letting go of objects all the time never stops the service for another") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::scratch_dir dir;
    std::wstring walked = dir.file(L"walked.orrisafe"), other = dir.file(L"other.orrisafe");
    {
        testing::com_apartment com;
        auto server = ConnectServer();  // the service starts before anything is watched
        make_storage(server.get(), walked);
        make_storage(server.get(), other);
    }
    std::wstring asked = testing::env(L"ORRI_RELEASE_ROUNDS");
    std::wstring stop_name = L"orri-release-stress-" + std::to_wstring(GetCurrentProcessId());
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stop_name.c_str());
    REQUIRE(stop);
    const std::wstring values[] = {walked, other, asked.empty() ? std::to_wstring(suite_rounds) : asked, stop_name};
    for (size_t i = 0; i < 4; ++i) SetEnvironmentVariableW(variables[i], values[i].c_str());
    auto child = [self = tools::module_file_path(nullptr)](const char* role, std::string* output) {
        std::wstring filter(role, role + strlen(role));
        return testing::run_process(L"\"" + self + L"\" -tc=\"release stress client: the " + filter + L"\"", output,
                                    24 * 3600 * 1000);
    };
    std::string walker_output, caller_output;
    DWORD walker = 1, caller = 1;
    REQUIRE(testing::all_end_within(INFINITE, {
        [&] {
            walker = child("walker", &walker_output);
            SetEvent(stop);  // the caller goes on until the walker has ended
        },
        [&] { caller = child("caller", &caller_output); },
        [&] {
            // The suite's run ends after suite_ms, a run of rounds asked for when they are done.
            if (asked.empty() && WaitForSingleObject(stop, suite_ms) == WAIT_TIMEOUT) SetEvent(stop);
        },
    }));
    for (const wchar_t* variable : variables) SetEnvironmentVariableW(variable, nullptr);
    CloseHandle(stop);
    MESSAGE(walker_output << caller_output);
    CHECK(walker == 0);
    CHECK(caller == 0);
    CHECK(walker_output.find("hang") == std::string::npos);
    CHECK(caller_output.find("hang") == std::string::npos);
}
