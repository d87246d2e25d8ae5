// The whole server as a client meets it: the service installed in the prefix, activated on demand by
// COM from this process, calls crossing processes through the type library, then stopped and removed.
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/client/tests/client_test_support.h>
#include <tools/bstr.h>
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <orrisafe.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <tools/file_io.h>
#include <tools/interface_holder.h>
#include <tools/paths.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/test_support.h>

#include "service_fixture.h"

using namespace service_testing;
using tools::interface_holder;

namespace {

using tools::bstr;

using testing::com_apartment;

using client_testing::create_storage_file;
constexpr auto listing = client_testing::listed_names;

void write_all(IStream* stream, const std::string& data) {
    ULONG written = 0;
    REQUIRE(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written) == S_OK);
    REQUIRE(written == data.size());
}

std::string read_all(IStorageFile* file) {
    auto stream = GetStreamOrThrow(file);
    LARGE_INTEGER zero{};
    REQUIRE(stream->Seek(zero, STREAM_SEEK_SET, nullptr) == S_OK);
    std::string data;
    char buffer[4096];
    for (;;) {
        ULONG read = 0;
        HRESULT hr = stream->Read(buffer, sizeof(buffer), &read);
        REQUIRE(SUCCEEDED(hr));
        if (read == 0) break;
        data.append(buffer, read);
    }
    return data;
}

interface_holder<IStorageFile> open_file(IStorageFolder* folder, const std::wstring& name, bool create) {
    return OpenFileOrThrow(folder, name, create ? VARIANT_TRUE : VARIANT_FALSE);
}

ULONGLONG file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    REQUIRE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int files_matching(const std::wstring& pattern) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do ++count;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

bool is_disconnected(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF) ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED;
}

long watch_state(IStorageServer* server, const std::wstring& path) {
    long state = -1;
    REQUIRE(server->GetWatchState(bstr(path), &state) == S_OK);
    return state;
}

const wchar_t second_client_variable[] = L"ORRI_E2E_STORAGE";
const wchar_t dying_client_variable[] = L"ORRI_E2E_DYING";
const std::string note_text = "written by the first client, read back by both";

// Runs one of the client cases below in a process of its own, on the storage at path.
DWORD run_client(const wchar_t* variable, const std::wstring& path, const char* test_case, std::string* output) {
    SetEnvironmentVariableW(variable, path.c_str());
    std::wstring filter(test_case, test_case + strlen(test_case));
    DWORD code = testing::run_process(L"\"" + tools::module_file_path(nullptr) + L"\" -tc=\"" + filter + L"\"", output);
    SetEnvironmentVariableW(variable, nullptr);
    return code;
}

}  // namespace

// Runs only as the second client that the end-to-end case starts in a process of its own.
TEST_CASE("second client: sees the first client's tree and adds to it") {
    std::wstring path = testing::env(second_client_variable);
    if (path.empty()) return;
    com_apartment apartment;
    auto server = ConnectServer();
    std::wstring upper = path;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    interface_holder<IStorageFolder> root;
    REQUIRE(server->OpenStorage(bstr(upper), root.put()) == S_OK);
    CHECK(listing(root.get()) == std::vector<std::wstring>{L"docs"});
    interface_holder<IStorageFolder> docs;
    REQUIRE(root->OpenFolder(bstr(L"docs"), VARIANT_FALSE, docs.put()) == S_OK);
    CHECK(read_all(open_file(docs.get(), L"renamed.txt", false).get()) == note_text);
    interface_holder<IStorageFolder> added;
    CHECK(root->OpenFolder(bstr(L"from second client"), VARIANT_TRUE, added.put()) == S_OK);
}

// Runs only as a client that the end-to-end case starts and that dies while it holds a storage open.
// (Not a stream: a stream handed out stays valid after the storage is closed, and Wine never runs
// down a dead client's references, so the file would stay open until the service stops.)
TEST_CASE("dying client: ends abruptly holding a folder and a file") {
    std::wstring path = testing::env(dying_client_variable);
    if (path.empty()) return;
    com_apartment apartment;
    auto server = ConnectServer();
    interface_holder<IStorageFolder> root;
    REQUIRE(server->OpenStorage(bstr(path), root.put()) == S_OK);
    auto file = open_file(root.get(), L"held by the dying client.txt", true);
    TerminateProcess(GetCurrentProcess(), 7);
}

TEST_CASE("end to end: install, activate on demand, work on a storage from two processes, stop and uninstall") {
    // Declared first, so they undo the installation last, on every path.
    installed_service_guard service_guard;
    REQUIRE(service_state() == 0);
    std::string output;
    REQUIRE(run_server(L"/i", &output) == 0);
    registered_type_library type_library;
    REQUIRE(type_library.result() == 0);
    CHECK(service_state() == SERVICE_STOPPED);

    testing::scratch_dir dir;
    std::wstring path = dir.file(L"end-to-end.orrisafe");
    create_storage_file(path);
    {
        com_apartment apartment;
        DWORD started = GetTickCount();
        auto server = ConnectServer();
        MESSAGE("activation started the service in " << GetTickCount() - started << " ms");
        CHECK(service_state() == SERVICE_RUNNING);
        // The running server marks the product as present.
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Orrisafe 3.0");
        CHECK(mutex != nullptr);
        if (mutex) CloseHandle(mutex);

        // A storage made by the wizard's driven run opens through the service and carries its key's identifier.
        if (std::wstring made = testing::env(L"ORRI_WIZARD_KEYS"); !made.empty()) {
            std::replace(made.begin(), made.end(), L'/', L'\\');
            std::wstring folder = L"Z:" + made, made_path = folder + L"\\finished.orrisafe";
            tools::byte_buffer key_id;
            tools::read_file(folder + L"\\finished.keyid", key_id);
            interface_holder<IStorageFolder> made_root;
            REQUIRE(server->OpenStorage(bstr(made_path), made_root.put()) == S_OK);
            key_id.push_back(0);
            CHECK(GetKeyIdentifier(made_root.get()) == tools::base64_decode(reinterpret_cast<const char*>(key_id.data())));
            CHECK(listing(made_root.get()).empty());
            CHECK(server->CloseStorage(bstr(made_path)) == S_OK);
            made_root.reset();
        }

        interface_holder<IStorageFolder> root;
        REQUIRE(server->OpenStorage(bstr(path), root.put()) == S_OK);
        VARIANT_BOOL open = VARIANT_FALSE;
        CHECK(server->IsStorageOpen(bstr(path), &open) == S_OK);
        CHECK(open == VARIANT_TRUE);

        interface_holder<IStorageFolder> docs;
        REQUIRE(root->OpenFolder(bstr(L"docs"), VARIANT_TRUE, docs.put()) == S_OK);
        {
            auto note = open_file(docs.get(), L"note.txt", true);
            interface_holder<IStream> stream;
            REQUIRE(note->GetStream(stream.put()) == S_OK);
            write_all(stream.get(), note_text);
            CHECK(read_all(note.get()) == note_text);
        }
        CHECK(docs->RenameElement(bstr(L"note.txt"), bstr(L"renamed.txt")) == S_OK);
        CHECK(listing(docs.get()) == std::vector<std::wstring>{L"renamed.txt"});

        // A large file, then deleted: its sectors stay in the compound file until it is defragmented.
        {
            auto big = open_file(root.get(), L"big.bin", true);
            interface_holder<IStream> stream;
            REQUIRE(big->GetStream(stream.put()) == S_OK);
            write_all(stream.get(), std::string(256 * 1024, 'x'));
        }
        CHECK(listing(root.get()) == (std::vector<std::wstring>{L"big.bin", L"docs"}));
        CHECK(root->DeleteElement(bstr(L"big.bin")) == S_OK);
        CHECK(listing(root.get()) == std::vector<std::wstring>{L"docs"});

        // A second client, in a process of its own, opens the same path in other letters: same tree (the open
        // storage is handed to a caller who may open its file).
        std::string child_output;
        DWORD child = run_client(second_client_variable, path, "second client*", &child_output);
        CHECK_MESSAGE(child == 0, child_output);
        CHECK(listing(root.get()) == (std::vector<std::wstring>{L"docs", L"from second client"}));

        // Closing, by a caller who may open the file, cuts every client off.
        CHECK(server->CloseStorage(bstr(path)) == S_OK);
        VARIANT_BOOL is_root = VARIANT_FALSE;
        CHECK(is_disconnected(root->IsRoot(&is_root)));
        CHECK(is_disconnected(docs->IsRoot(&is_root)));
        CHECK(server->IsStorageOpen(bstr(path), &open) == S_OK);
        CHECK(open == VARIANT_FALSE);
        CHECK(server->CloseStorage(bstr(path)) == S_FALSE);
        root.reset();
        docs.reset();

        // Defragmenting the closed storage keeps the tree and gives the deleted file's space back.
        ULONGLONG before = file_size(path);
        REQUIRE(server->Defragment(bstr(path)) == S_OK);
        CHECK(file_size(path) < before);
        CHECK(files_matching(dir.file(L"*.orrisafe-defrag")) == 0);
        REQUIRE(server->OpenStorage(bstr(path), root.put()) == S_OK);
        CHECK(listing(root.get()) == (std::vector<std::wstring>{L"docs", L"from second client"}));
        REQUIRE(root->OpenFolder(bstr(L"docs"), VARIANT_FALSE, docs.put()) == S_OK);
        CHECK(read_all(open_file(docs.get(), L"renamed.txt", false).get()) == note_text);
        CHECK(server->CloseStorage(bstr(path)) == S_OK);

        // Watching a closed storage's file, the way a frozen storage is watched.
        CHECK(server->WatchFile(bstr(path), VARIANT_TRUE) == S_OK);
        CHECK(watch_state(server.get(), path) == 0);
        REQUIRE(testing::run_process(L"cmd.exe /c \"echo changed>>" + path + L"\"") == 0);
        long state = watch_state(server.get(), path);
        for (DWORD start = GetTickCount(); state != 2 && GetTickCount() - start < 8000; Sleep(50))
            state = watch_state(server.get(), path);
        CHECK(state == 2);

        // A client that dies holding objects does not take the server with it, and its storage can be
        // closed and opened again.
        std::wstring orphaned = dir.file(L"orphaned.orrisafe");
        create_storage_file(orphaned);
        CHECK(run_client(dying_client_variable, orphaned, "dying client*", nullptr) == 7);
        CHECK(server->IsStorageOpen(bstr(orphaned), &open) == S_OK);
        CHECK(server->CloseStorage(bstr(orphaned)) == (open == VARIANT_TRUE ? S_OK : S_FALSE));
        CHECK(testing::file_is_free(orphaned));
        {
            interface_holder<IStorageFolder> reopened;
            REQUIRE(server->OpenStorage(bstr(orphaned), reopened.put()) == S_OK);
            CHECK(listing(reopened.get()) == std::vector<std::wstring>{L"held by the dying client.txt"});
            CHECK(server->CloseStorage(bstr(orphaned)) == S_OK);
        }

        // Stopping the service while a client holds an open storage: the client is cut off and the
        // file is closed.
        std::wstring held = dir.file(L"held.orrisafe");
        create_storage_file(held);
        interface_holder<IStorageFolder> held_root;
        REQUIRE(server->OpenStorage(bstr(held), held_root.put()) == S_OK);
        CHECK_FALSE(testing::file_is_free(held));
        REQUIRE(run_server(L"/s", &output) == 0);
        CHECK(output == "Ok\n");
        CHECK(wait_for_service_state(SERVICE_STOPPED) == SERVICE_STOPPED);
        CHECK(FAILED(held_root->IsRoot(&is_root)));
        CHECK(testing::file_is_free(held));
    }
    REQUIRE(run_server(L"/u", &output) == 0);
    CHECK(service_state() == 0);
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID\\{30000000-9A79-48F0-A26B-FDA05AE1AD1C}"));
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"AppID\\{30000000-9A79-48F0-A26B-FDA05AE1AD1C}"));
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"AppID\\orriserver.exe"));
}
