// The file watcher in this process, with changes made by other processes through the real file system.
#include <doctest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <server/file_watch.h>
#include <server/file_watcher.h>
#include <tools/paths.h>
#include <tools/tests/test_support.h>
#include <tools/text.h>

namespace {

constexpr long watched = 0;
constexpr long not_watched = 2;

long state_of(const std::wstring& path) {
    long state = -1;
    REQUIRE(GetStorageWatchState(path.c_str(), &state) == S_OK);
    return state;
}

// The state once it has become `expected`, or whatever it is after timeout_ms.
long wait_for_state(const std::wstring& path, long expected, DWORD timeout_ms = 8000) {
    DWORD start = GetTickCount();
    long state = state_of(path);
    while (state != expected && GetTickCount() - start < timeout_ms) {
        Sleep(50);
        state = state_of(path);
    }
    return state;
}

// Runs a command of the system's shell in a process of its own.
void shell(const std::wstring& command) {
    REQUIRE(testing::run_process(L"cmd.exe /c \"" + command + L"\"") == 0);
}

void create_file(const std::wstring& path, const char* text = "storage") {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(h);
}

// The threads of this process that were not there when it was made. All threads together would not do: Wine's
// pool workers, started by earlier tests, end on their own after some idle seconds, at any moment of a test.
class new_threads {
public:
    new_threads() : before_(thread_ids()) {}

    int count() const {
        int count = 0;
        for (DWORD id : thread_ids()) count += before_.count(id) ? 0 : 1;
        return count;
    }

    // The count once it has become `expected`, or whatever it is after timeout_ms.
    int wait_for(int expected, DWORD timeout_ms = 3000) const {
        DWORD start = GetTickCount();
        int now = count();
        while (now != expected && GetTickCount() - start < timeout_ms) {
            Sleep(20);
            now = count();
        }
        return now;
    }

private:
    static std::set<DWORD> thread_ids() {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        REQUIRE(snapshot != INVALID_HANDLE_VALUE);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        std::set<DWORD> ids;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
        CloseHandle(snapshot);
        return ids;
    }

    std::set<DWORD> before_;
};

std::wstring upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Drops every watch a failed check may have left running.
struct watchers_stopped {
    ~watchers_stopped() { StopStorageFileWatchers(); }
};

}  // namespace

TEST_CASE("a watched file stays watched through other files' changes and ends when another process writes it") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"storage.orrisafe");
    create_file(storage);
    CHECK(state_of(storage) == not_watched);

    REQUIRE(WatchStorageFile(storage.c_str(), true) == S_OK);
    CHECK(state_of(storage) == watched);

    shell(L"echo other>" + dir.file(L"storage.orrisafe.txt"));
    shell(L"echo other>" + dir.file(L"other.orrisafe"));
    Sleep(1500);
    CHECK(state_of(storage) == watched);

    shell(L"echo changed>>" + storage);
    CHECK(wait_for_state(storage, not_watched) == not_watched);
}

TEST_CASE("a change that follows others at once is not missed") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"burst.orrisafe");
    create_file(storage);
    for (int round = 0; round < 3; ++round) {
        CAPTURE(round);
        REQUIRE(WatchStorageFile(storage.c_str(), true) == S_OK);
        // Many changes to other files and then one to ours, as fast as one process can make them: the
        // watcher is busy with earlier batches when the last one comes.
        std::wstring burst;
        for (int i = 0; i < 40; ++i) burst += L"echo line>" + dir.file(L"f" + std::to_wstring(i)) + L"&";
        burst += L"echo last>>" + storage;
        shell(burst);
        CHECK(wait_for_state(storage, not_watched) == not_watched);
    }
}

TEST_CASE("one file spelled other ways is one watch with one thread, and dropping it ends the thread") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    // A letter beyond ASCII too: the file system folds its case as well.
    std::wstring name = L"\u00c4rger Case.orrisafe";
    std::wstring storage = dir.file(name);
    create_file(storage);
    std::vector<std::wstring> spellings = {upper(storage), L".\\" + upper(name),
                                           dir.path() + L"\\..\\" + tools::path_file_name(dir.path()) + L"\\" + name,
                                           dir.path() + L"/" + name};
    wchar_t short_path[MAX_PATH] = {};
    if (GetShortPathNameW(storage.c_str(), short_path, MAX_PATH) && storage != short_path) spellings.push_back(short_path);
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    REQUIRE(SetCurrentDirectoryW(dir.path().c_str()));
    new_threads threads;

    REQUIRE(WatchStorageFile(storage.c_str(), true) == S_OK);
    CHECK(threads.count() == 1);
    for (const std::wstring& spelling : spellings) {
        INFO(tools::to_narrow(spelling));
        CHECK(state_of(spelling) == watched);
        REQUIRE(WatchStorageFile(spelling.c_str(), true) == S_OK);
        CHECK(threads.count() == 1);
    }

    REQUIRE(WatchStorageFile(spellings.back().c_str(), false) == S_OK);
    CHECK(state_of(storage) == not_watched);
    CHECK(threads.wait_for(0) == 0);
    SetCurrentDirectoryW(before);

    // Dropping what is not watched changes nothing.
    CHECK(WatchStorageFile(storage.c_str(), false) == S_OK);
    CHECK(state_of(storage) == not_watched);
}

TEST_CASE("deleting the watched file, renaming it away or renaming another file onto its name end the watch") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    new_threads threads;

    std::wstring deleted = dir.file(L"deleted.orrisafe");
    create_file(deleted);
    REQUIRE(WatchStorageFile(deleted.c_str(), true) == S_OK);
    shell(L"del " + deleted);
    CHECK(wait_for_state(deleted, not_watched) == not_watched);

    std::wstring renamed = dir.file(L"renamed.orrisafe");
    create_file(renamed);
    REQUIRE(WatchStorageFile(renamed.c_str(), true) == S_OK);
    shell(L"ren " + renamed + L" elsewhere.orrisafe");
    CHECK(wait_for_state(renamed, not_watched) == not_watched);

    // A path whose file does not exist yet is watched for its creation.
    std::wstring target = dir.file(L"target.orrisafe");
    REQUIRE(WatchStorageFile(target.c_str(), true) == S_OK);
    CHECK(state_of(target) == watched);
    shell(L"ren " + dir.file(L"elsewhere.orrisafe") + L" target.orrisafe");
    CHECK(wait_for_state(target, not_watched) == not_watched);

    // Each ended watch's thread is gone.
    CHECK(threads.wait_for(0) == 0);
}

namespace {

HANDLE end_reported = nullptr;

// A watch whose file changes right after its read is pending, and whose thread has run to its end, as far as the
// table lets it, before the table gets the watch back.
std::unique_ptr<server::CFileWatch> make_watch_ended_at_once(const std::wstring& path,
                                                             server::CFileWatch::end_handler on_end) {
    auto watch = std::make_unique<server::CFileWatch>(path, [on_end](server::CFileWatch& w) {
        SetEvent(end_reported);
        on_end(w);
    });
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, "x", 1, &written, nullptr);
        CloseHandle(file);
    }
    WaitForSingleObject(end_reported, 10000);
    for (int i = 0; i < 100 && !watch->finished(); ++i) Sleep(20);
    return watch;
}

}  // namespace

TEST_CASE("a watch that ends before WatchFile returns leaves the path unwatched, and it can be watched again") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"racing.orrisafe");
    create_file(storage);
    end_reported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    new_threads threads;

    server::FileWatchMaker plain = server::SetFileWatchMaker(make_watch_ended_at_once);
    HRESULT hr = WatchStorageFile(storage.c_str(), true);
    server::SetFileWatchMaker(plain);
    REQUIRE(hr == S_OK);
    CHECK(WaitForSingleObject(end_reported, 0) == WAIT_OBJECT_0);
    CHECK(wait_for_state(storage, not_watched) == not_watched);
    CHECK(threads.wait_for(0) == 0);

    // Watched anew with a thread of its own, which a change ends as usual; a watch of another path in between
    // lets the table collect the finished one.
    REQUIRE(WatchStorageFile(storage.c_str(), true) == S_OK);
    CHECK(state_of(storage) == watched);
    CHECK(threads.count() == 1);
    std::wstring other = dir.file(L"other.orrisafe");
    create_file(other);
    REQUIRE(WatchStorageFile(other.c_str(), true) == S_OK);
    REQUIRE(WatchStorageFile(storage.c_str(), false) == S_OK);
    CHECK(state_of(storage) == not_watched);
    CHECK(state_of(other) == watched);
    CloseHandle(end_reported);
}

TEST_CASE("a storage in a drive root is watched in the root folder") {
    watchers_stopped guard;
    CHECK(server::CFileWatch::directory_of(L"C:\\root.orrisafe") == L"C:\\");
    CHECK(server::CFileWatch::directory_of(L"C:\\folder\\inner.orrisafe") == L"C:\\folder");
    CHECK(server::CFileWatch::directory_of(L"bare.orrisafe") == L".");

    std::wstring storage = L"C:\\orri-watch-" + tools::guid_to_string(tools::new_guid()).substr(1, 8) + L".orrisafe";
    create_file(storage);
    REQUIRE(WatchStorageFile(storage.c_str(), true) == S_OK);
    CHECK(state_of(storage) == watched);
    shell(L"echo changed>>" + storage);
    CHECK(wait_for_state(storage, not_watched) == not_watched);
    DeleteFileW(storage.c_str());
}

TEST_CASE("a watch that cannot start leaves neither a table entry nor a thread") {
    watchers_stopped guard;
    testing::scratch_dir dir;
    new_threads threads;

    std::wstring missing = dir.file(L"no such folder\\storage.orrisafe");
    HRESULT hr = WatchStorageFile(missing.c_str(), true);
    CHECK(FAILED(hr));
    CHECK(HRESULT_FACILITY(hr) == FACILITY_WIN32);
    CHECK(state_of(missing) == not_watched);

    CHECK(WatchStorageFile(L"", true) == E_INVALIDARG);
    CHECK(WatchStorageFile(nullptr, true) == E_INVALIDARG);
    CHECK(FAILED(WatchStorageFile((dir.path() + L"\\").c_str(), true)));
    CHECK(state_of(dir.path() + L"\\") == not_watched);
    CHECK(GetStorageWatchState(missing.c_str(), nullptr) == E_POINTER);

    CHECK(threads.count() == 0);
}

TEST_CASE("an overflow of the folder's change list counts as a change of the watched file") {
    testing::scratch_dir dir;
    std::wstring storage = dir.file(L"storage.orrisafe");
    create_file(storage);
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        // A list that cannot hold even one entry of the long name below overflows at its first change.
        server::CFileWatch watch(storage, [&](server::CFileWatch&) { SetEvent(ended); }, 32);
        create_file(dir.file(std::wstring(120, L'x') + L".txt"), "other");
        CHECK(WaitForSingleObject(ended, 8000) == WAIT_OBJECT_0);
        for (int i = 0; i < 100 && !watch.finished(); ++i) Sleep(20);
        CHECK(watch.finished());
    }
    ResetEvent(ended);
    {
        // The same watch with room for the entry sees only another file's change: no end.
        server::CFileWatch watch(storage, [&](server::CFileWatch&) { SetEvent(ended); });
        create_file(dir.file(std::wstring(120, L'y') + L".txt"), "other");
        CHECK(WaitForSingleObject(ended, 1500) == WAIT_TIMEOUT);
        CHECK_FALSE(watch.finished());
    }
    // Stopping by destruction does not report an end.
    CHECK(WaitForSingleObject(ended, 0) == WAIT_TIMEOUT);
    CloseHandle(ended);
}

TEST_CASE("teardown ends every watcher thread at once") {
    testing::scratch_dir dir;
    new_threads threads;
    std::wstring paths[3] = {dir.file(L"a.orrisafe"), dir.file(L"b.orrisafe"), dir.file(L"c.orrisafe")};
    for (auto& p : paths) {
        create_file(p);
        REQUIRE(WatchStorageFile(p.c_str(), true) == S_OK);
    }
    CHECK(threads.count() == 3);
    StopStorageFileWatchers();
    CHECK(threads.count() == 0);
    for (auto& p : paths) CHECK(state_of(p) == not_watched);
    // The table works again afterwards.
    REQUIRE(WatchStorageFile(paths[0].c_str(), true) == S_OK);
    CHECK(state_of(paths[0]) == watched);
    StopStorageFileWatchers();
}
