// Clients of the installed service at once, each a process of its own: the walker opens a storage, lists it,
// reads every file and lets go of every object, round after round; the caller calls in between on the
// folders and files of a second storage, which a third client closes again and again (as freezing a storage
// does), cutting the caller off. Each call, releases included, is watched: one that has not returned after
// hang_ms is a hang, and the service goes. ORRI_RELEASE_ROUNDS=<n> runs exactly n walker rounds instead of
// the suite's short run.
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <doctest.h>
#include <windows.h>
#include <comdef.h>

#include <atomic>
#include <cstdio>
#include <string>

#include <tools/paths.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/test_support.h>

#include "service_fixture.h"

using tools::bstr;

namespace {

constexpr DWORD hang_ms = 30000;   // a loaded machine stalls for seconds; a hang never ends
constexpr DWORD suite_ms = 45000;  // the suite's run: rounds until then
constexpr unsigned suite_rounds = 400;

// What the parent tells its children: the storage each works on, the walker's rounds and the event that stops
// them all.
enum class role { walker, caller, closer };
const wchar_t* const storage_variables[] = {L"ORRI_STRESS_WALK", L"ORRI_STRESS_CALL", L"ORRI_STRESS_CLOSE"};
const wchar_t rounds_variable[] = L"ORRI_STRESS_ROUNDS", stop_variable[] = L"ORRI_STRESS_STOP";

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

// A storage of 5 files in its root and 3 more in a folder, made through the service: a round of the walker
// lets go of 29 objects, one of them the root.
void make_storage(IStorageServer* server, const std::wstring& path) {
    testing::create_docfile(path);
    auto root = OpenStorageOrThrow(server, bstr(path));
    auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_TRUE);
    std::string data(6000, 'r');
    for (int i = 0; i < 8; ++i) {
        auto file = OpenFileOrThrow(i < 5 ? root.get() : docs.get(), bstr(L"file " + std::to_wstring(i) + L".txt"), VARIANT_TRUE);
        REQUIRE(GetStreamOrThrow(file.get())->Write(data.data(), static_cast<ULONG>(i * 800), nullptr) == S_OK);
    }
}

// What a client cut off from a closed storage's objects meets.
bool cut_off(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED);
}

// Calls on a storage's root, a folder and a file in it, and lists the root, until the storage is closed
// under it; then opens it again.
void call_in_between(IStorageServer* server, const bstr& path) {
    try {
        auto root = watch("OpenStorage", [&] { return OpenStorageOrThrow(server, path); });
        auto docs = watch("OpenFolder", [&] { return OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_FALSE); });
        auto file = watch("OpenFile", [&] { return OpenFileOrThrow(root.get(), bstr(L"file 1.txt"), VARIANT_FALSE); });
        for (int i = 0; i < 50; ++i) {
            watch("IsRoot", [&] { return IsRootOrThrow(root.get()); });
            watch("GetName (folder)", [&] { return GetNameOrThrow(docs.get()); });
            watch("GetSize (file)", [&] { return GetSizeOrThrow(file.get()); });
            auto elements = watch("EnumElements", [&] { return EnumElementsOrThrow(root.get()); });
            auto info = watch("Next", [&] { return NextOrThrow(elements.get()); });
            watch("GetName (element info)", [&] { return GetNameOrThrow(info.get()); });
            watch("Release (element info)", [&] { info.reset(); });
            watch("Release (enumerator)", [&] { elements.reset(); });
        }
        watch("Release (file)", [&] { file.reset(); });
        watch("Release (folder)", [&] { docs.reset(); });
        watch("Release (root)", [&] { root.reset(); });
    } catch (const _com_error& e) {
        if (!cut_off(e.Error())) throw;
    }
}

// One of the clients, in a child process, on the storage at path, until the walker's rounds are done or
// the stop event is set.
void run_client(role as, const std::wstring& path) {
    testing::com_apartment com;
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, testing::env(stop_variable).c_str());
    REQUIRE(stop);
    const unsigned rounds = std::stoul(testing::env(rounds_variable));
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    const DWORD started = GetTickCount();
    auto stopped = [&] { return WaitForSingleObject(stop, 0) != WAIT_TIMEOUT; };
    const char* name = as == role::walker ? "walker" : as == role::caller ? "caller" : "closer";
    HRESULT failure = S_OK;
    try {
        auto server = watch("ConnectServer", [] { return ConnectServer(); });
        for (; !stopped() && (as != role::walker || watch.rounds < rounds); ++watch.rounds) {
            if (as == role::walker) {
                if (watch.rounds % 200 == 0)
                    printf("walker: round %u after %lu s\n", watch.rounds.load(), (GetTickCount() - started) / 1000);
                // The root goes with the last reference to it: every round opens the file anew.
                auto root = watch("OpenStorage", [&] { return OpenStorageOrThrow(server.get(), bstr(path)); });
                walk(root.get());
                watch("Release (root)", [&] { root.reset(); });
            } else if (as == role::caller) {
                call_in_between(server.get(), bstr(path));
            } else {
                watch("CloseStorage", [&] { return CloseStorageOrThrow(server.get(), bstr(path)); });
                Sleep(20);
            }
        }
        watch("Release (server)", [&] { server.reset(); });
    } catch (const _com_error& e) {
        failure = e.Error();
    }
    watch.done = true;
    printf("%s: %u rounds in %lu s, %s 0x%08lX\n", name, watch.rounds.load(), (GetTickCount() - started) / 1000,
           FAILED(failure) ? "failed with" : "ended with", static_cast<unsigned long>(failure));
    fflush(stdout);
    CloseHandle(stop);
    CHECK(failure == S_OK);
}

}  // namespace

// Run only as the children that the stress case starts.
TEST_CASE("release stress client: walker") {
    if (std::wstring path = testing::env(storage_variables[0]); !path.empty()) run_client(role::walker, path);
}
TEST_CASE("release stress client: caller") {
    if (std::wstring path = testing::env(storage_variables[1]); !path.empty()) run_client(role::caller, path);
}
TEST_CASE("release stress client: closer") {
    if (std::wstring path = testing::env(storage_variables[2]); !path.empty()) run_client(role::closer, path);
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
    const std::wstring storages[] = {walked, other, other};
    for (size_t i = 0; i < 3; ++i) SetEnvironmentVariableW(storage_variables[i], storages[i].c_str());
    SetEnvironmentVariableW(rounds_variable, (asked.empty() ? std::to_wstring(suite_rounds) : asked).c_str());
    SetEnvironmentVariableW(stop_variable, stop_name.c_str());
    std::string outputs[3];
    DWORD codes[3] = {1, 1, 1};
    auto child = [&, self = tools::module_file_path(nullptr)](int which) {
        const wchar_t* names[] = {L"walker", L"caller", L"closer"};
        codes[which] = testing::run_process(L"\"" + self + L"\" -tc=\"release stress client: " + names[which] + L"\"",
                                            &outputs[which], 24 * 3600 * 1000);
    };
    REQUIRE(testing::all_end_within(INFINITE, {
        [&] {
            child(0);
            SetEvent(stop);  // the others go on until the walker has ended
        },
        [&] { child(1); },
        [&] { child(2); },
        [&] {
            // The suite's run ends after suite_ms, a run of rounds asked for when they are done.
            if (asked.empty() && WaitForSingleObject(stop, suite_ms) == WAIT_TIMEOUT) SetEvent(stop);
        },
    }));
    for (const wchar_t* variable : storage_variables) SetEnvironmentVariableW(variable, nullptr);
    SetEnvironmentVariableW(rounds_variable, nullptr);
    SetEnvironmentVariableW(stop_variable, nullptr);
    CloseHandle(stop);
    MESSAGE(outputs[0] << outputs[1] << outputs[2]);
    for (int i = 0; i < 3; ++i) {
        CHECK(codes[i] == 0);
        CHECK(outputs[i].find("hang") == std::string::npos);
    }
}
