// The installed service killed (its process ended, as a crash ends it) in the middle of a file rename, a folder
// rename (during the copy, and while the old element is destroyed) and a defragmentation, and what the restarted
// service then serves. A killed server leaves Wine's registration of it stale for the rest of the session, so each
// kill runs in a Wine session of its own and the restarted service in another (cmake/own_session.sh): each phase is
// a test case that runs only when asked for by name (--no-skip -tc=...). The storages live in ORRI_CRASH_DIR, each
// with a manifest of what it must hold, which the last phase and the host's reader (check_store_file.py --expected)
// both check.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <process.h>

#include <orrisafe.h>

#include <algorithm>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <platform/compound_file_check.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/tests/client_test_support.h>
#include <server/defragment.h>
#include <server/element_store.h>
#include <server/stream_digest.h>
#include <server/tests/service_fixture.h>
#include <tools/auto_handle.h>
#include <tools/bstr.h>
#include <tools/com_initializer.h>
#include <tools/hresult.h>
#include <tools/text.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/compound_file_image.h>
#include <tools/tests/test_support.h>

using namespace service_testing;

namespace {

constexpr size_t mebibyte = 1 << 20;
// Wine's compound file copies a few MiB a second (128 bytes at a time): the copy of a file this large runs for
// seconds, long enough to be caught in its middle.
constexpr size_t large = 16 * mebibyte;
const wchar_t record_name[] = L"orrisafe-rename";

std::wstring crash_file(const std::wstring& name) {
    std::wstring dir = testing::env(L"ORRI_CRASH_DIR");
    REQUIRE_MESSAGE(!dir.empty(), "ORRI_CRASH_DIR names the folder the phases share");
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + name;
}

std::wstring manifest_of(const std::wstring& storage) { return storage + L".expected"; }

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ULONGLONG file_size(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string hex(const GUID& digest) { return tools::to_narrow(tools::bytes_to_hex(&digest, sizeof digest)); }

// What a storage must hold: each file by its display path ("/" between names) with its digest, and the renames
// under way, each of which may have happened or not.
struct manifest {
    std::map<std::string, std::string> files;
    std::vector<std::pair<std::string, std::string>> renames;

    void write(const std::wstring& path) const {
        std::ofstream out(tools::to_narrow(path), std::ios::binary);
        for (const auto& [from, to] : renames) out << "rename\t" << from << '\t' << to << '\n';
        for (const auto& [name, digest] : files) out << "file\t" << name << '\t' << digest << '\n';
        REQUIRE(out.good());
    }
    static manifest read(const std::wstring& path) {
        std::ifstream in(tools::to_narrow(path), std::ios::binary);
        REQUIRE_MESSAGE(in.good(), "no manifest: the phase that kills the service did not run");
        manifest m;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string kind, first, second;
            std::getline(fields, kind, '\t');
            std::getline(fields, first, '\t');
            std::getline(fields, second, '\t');
            if (kind == "rename") m.renames.emplace_back(first, second);
            if (kind == "file") m.files[first] = second;
        }
        return m;
    }
};

// A new storage file at path, the previous run's and what was left beside it gone, opened as the server opens one.
StorageHolder fresh_storage(const std::wstring& path) {
    DeleteFileW(path.c_str());
    DeleteFileW(manifest_of(path).c_str());
    DeleteFileW(DefragTempFile(path).c_str());
    testing::create_docfile(path);
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    REQUIRE(hr == S_OK);
    return root;
}

// A file of size bytes that no run of zeros could stand in for, entered in the manifest under its display path.
void make_file(CStorageWrapper& folder, const std::string& display_path, size_t size, manifest& expected) {
    std::wstring name = tools::to_wide(display_path.substr(display_path.rfind('/') + 1));
    auto file = OpenChildStream(folder, name, true);
    REQUIRE(file);
    std::string block(mebibyte, '\0');
    unsigned state = static_cast<unsigned>(std::hash<std::string>()(display_path));
    for (size_t written = 0; written < size; written += block.size()) {
        for (char& c : block) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
        ULONG part = static_cast<ULONG>(std::min(block.size(), size - written)), done = 0;
        REQUIRE(file->Stream()->Write(block.data(), part, &done) == S_OK);
        REQUIRE(done == part);
    }
    GUID digest;
    REQUIRE(ComputeStreamDigest(file->Stream(), digest) == S_OK);
    expected.files[display_path] = hex(digest);
}

struct service_call {
    std::function<void(IStorageServer*)> body;
    HRESULT result = E_PENDING;
};

unsigned __stdcall run_service_call(void* argument) {
    auto& call = *static_cast<service_call*>(argument);
    tools::com_initializer com;
    call.result = tools::com_boundary([&] {
        com.check();
        call.body(ConnectServer().get());
    });
    return 0;
}

// Makes the call through the service on a thread of its own (activating the service), and ends the service's
// process as soon as under_way says the operation is in the middle of its work. The call itself then fails.
void kill_service_during(std::function<void(IStorageServer*)> body, const std::function<bool()>& under_way) {
    service_call call{std::move(body)};
    tools::auto_kernel_handle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &run_service_call, &call, 0, nullptr)));
    REQUIRE(thread);
    bool caught = false;
    DWORD start = GetTickCount();
    while (!caught && GetTickCount() - start < 240000) {
        if (WaitForSingleObject(thread.get(), 5) == WAIT_OBJECT_0) break;
        caught = under_way();
    }
    end_service_process();
    MESSAGE("killed " << GetTickCount() - start << " ms after the call was made");
    REQUIRE(WaitForSingleObject(thread.get(), 60000) == WAIT_OBJECT_0);
    REQUIRE_MESSAGE(caught, "the operation ended (with " << std::hex << call.result << ") before it could be cut short");
    CHECK(FAILED(call.result));
}

// The storage file as the killed service left it, opened by this process for reading only (no rename settled).
tools::interface_holder<IStorage> left_behind(const std::wstring& path) {
    // The platform's reader sees only a file that the check passes: the crash left a whole compound file.
    REQUIRE(platform::check_compound_file(path.c_str()) == S_OK);
    tools::interface_holder<IStorage> root;
    REQUIRE(StgOpenStorageEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                             IID_IStorage, root.put_void()) == S_OK);
    return root;
}

bool has_child(IStorage* storage, const std::wstring& stored_name) {
    for (const auto& [name, type] : testing::list_elements(storage))
        if (lstrcmpiW(name.c_str(), stored_name.c_str()) == 0) return true;
    return false;
}

constexpr auto listing = client_testing::listed_names;

std::wstring server_path_of(const std::string& display_path) {
    std::wstring path = tools::to_wide(display_path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool under(const std::string& path, const std::string& folder) {
    return path == folder || path.rfind(folder + "/", 0) == 0;
}

// Through the service: each renamed element under exactly one of its names, and every folder holding exactly the
// manifest's files, each whole.
void check_whole(IStorageFolder* root, const manifest& expected) {
    std::map<std::string, std::string> files = expected.files;
    for (const auto& [from, to] : expected.renames) {
        std::string parent = from.substr(0, from.rfind('/') + 1);
        auto folder = parent.empty() ? tools::interface_holder<IStorageFolder>::add_ref(root)
                                     : OpenFolderOrThrow(root, server_path_of(parent.substr(0, parent.size() - 1)).c_str(), 0);
        auto names = listing(folder.get());
        bool old_listed = std::count(names.begin(), names.end(), tools::to_wide(from.substr(parent.size()))) == 1;
        bool new_listed = std::count(names.begin(), names.end(), tools::to_wide(to.substr(parent.size()))) == 1;
        INFO("renamed " << from << " to " << to);
        CHECK(old_listed != new_listed);
        if (!new_listed) continue;
        std::map<std::string, std::string> moved;
        for (const auto& [path, digest] : files) moved[under(path, from) ? to + path.substr(from.size()) : path] = digest;
        files = moved;
    }
    // Each folder lists exactly its files and folders.
    std::map<std::string, std::vector<std::wstring>> children;
    for (const auto& [path, digest] : files) {
        for (size_t begin = 0, end = 0; end != std::string::npos; begin = end + 1) {
            end = path.find('/', begin);
            auto& names = children[path.substr(0, begin ? begin - 1 : 0)];
            std::wstring name = tools::to_wide(path.substr(begin, end == std::string::npos ? end : end - begin));
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
    }
    for (const auto& [path, digest] : files) {
        INFO(path);
        CHECK(hex(GetDigestOrThrow(OpenFileOrThrow(root, server_path_of(path).c_str(), 0).get())) == digest);
    }
}

// Renames the element at the display path `from` to `to` (in the same folder) through the service, kills the service
// once the storage file has grown by `grown` bytes (the copy under way), and returns the file as the kill left it,
// the rename on record and its copy begun: its root, and the folder renamed in (which lives only as long as the root).
using left_storage = std::pair<tools::interface_holder<IStorage>, tools::interface_holder<IStorage>>;
left_storage kill_during_rename(const std::wstring& path, manifest& expected, const std::string& from, const std::string& to,
                                ULONGLONG grown) {
    expected.renames.emplace_back(from, to);
    expected.write(manifest_of(path));
    size_t slash = from.rfind('/') + 1;
    std::wstring folder = server_path_of(from.substr(0, slash ? slash - 1 : 0));
    std::wstring old_name = tools::to_wide(from.substr(slash)), new_name = tools::to_wide(to.substr(slash));
    ULONGLONG before = file_size(path);
    kill_service_during(
        [&](IStorageServer* server) {
            auto root = OpenStorageOrThrow(server, path.c_str());
            auto parent = folder.empty() ? root : OpenFolderOrThrow(root.get(), folder.c_str(), 0);
            RenameElementOrThrow(parent.get(), old_name.c_str(), new_name.c_str());
        },
        [&] { return file_size(path) >= before + grown; });
    auto root = left_behind(path);
    CHECK(has_child(root.get(), record_name));
    auto parent = root;
    if (!folder.empty()) {
        REQUIRE(root->OpenStorage(HashedElementName(folder).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                  parent.put()) == S_OK);
    }
    REQUIRE(has_child(parent.get(), HashedElementName(old_name)));
    REQUIRE(has_child(parent.get(), HashedElementName(new_name)));
    return {root, parent};
}

// Renames `from` to `to` through the service and kills the service the moment the platform begins to destroy the
// old element: when the FAT entry of the last sector of one of the streams `watched` (display paths) turns free, as
// the platform frees each stream's sectors from the end before its directory entry changes. The kill leaves a stream
// whose chain ends before its stated size, which the structure check alone refuses.
void kill_while_old_element_goes(const std::wstring& path, manifest& expected, const std::string& from, const std::string& to,
                                 const std::vector<std::string>& watched) {
    expected.renames.emplace_back(from, to);
    expected.write(manifest_of(path));
    size_t slash = from.rfind('/') + 1;
    std::wstring folder = server_path_of(from.substr(0, slash ? slash - 1 : 0));
    std::wstring old_name = tools::to_wide(from.substr(slash)), new_name = tools::to_wide(to.substr(slash));
    testing::compound_file_image image(path);
    std::vector<size_t> places;
    for (const std::string& stream : watched) {
        auto chain = image.chain(image.field(image.find(HashedElementName(tools::to_wide(stream.substr(stream.rfind('/') + 1)))),
                                             testing::compound_file_image::start));
        places.push_back(image.fat_at(chain.back()));
    }
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    REQUIRE(opened != INVALID_HANDLE_VALUE);
    tools::auto_kernel_handle file(opened);
    auto freed = [&] {
        for (size_t place : places) {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(place);
            uint32_t entry = 0;
            DWORD read = 0;
            if (SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && ReadFile(file.get(), &entry, 4, &read, nullptr) &&
                read == 4 && entry == 0xFFFFFFFF)
                return true;
        }
        return false;
    };
    tools::auto_kernel_handle service;
    kill_service_during(
        [&](IStorageServer* server) {
            auto root = OpenStorageOrThrow(server, path.c_str());
            auto parent = folder.empty() ? root : OpenFolderOrThrow(root.get(), folder.c_str(), 0);
            RenameElementOrThrow(parent.get(), old_name.c_str(), new_name.c_str());
        },
        [&] {
            if (!service) service.take_over(OpenProcess(PROCESS_TERMINATE, FALSE, service_process_id()));
            // Watched without a pause, so that the kill follows the first freed sector at once.
            for (DWORD start = GetTickCount(); service && GetTickCount() - start < 100;)
                if (freed()) return TerminateProcess(service.get(), 1) != FALSE;
            return false;
        });
    // The storage as the kill left it: the structure check alone refuses it.
    CHECK(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
}

// The service as an installation leaves it. Not removed again: the session goes with its prefix, and a killed
// service could not be stopped.
void install_service() {
    REQUIRE(run_server(L"/i") == 0);
    REQUIRE(testing::run_process(L"\"" + dist_file(L"orritypes.exe") + L"\" -i orrisafe.tlb") == 0);
}

}  // namespace

TEST_CASE("killed during a file rename" * doctest::skip()) {
    install_service();
    std::wstring path = crash_file(L"file rename.orrisafe");
    manifest expected;
    {
        auto root = fresh_storage(path);
        make_file(*root, "big.bin", large, expected);
        make_file(*root, "small.txt", 3000, expected);
    }
    // Cut short in the middle of the copy: the old file stands beside a copy that is not whole.
    auto [root, folder] = kill_during_rename(path, expected, "big.bin", "renamed.bin", large / 8);
    tools::interface_holder<IStream> copy;
    REQUIRE(root->OpenStream(HashedElementName(std::wstring(L"renamed.bin")).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                             copy.put()) == S_OK);
    GUID digest;
    REQUIRE(ComputeStreamDigest(copy.get(), digest) == S_OK);
    CHECK(hex(digest) != expected.files["big.bin"]);
}

TEST_CASE("killed during a folder rename" * doctest::skip()) {
    install_service();
    std::wstring path = crash_file(L"folder rename.orrisafe");
    manifest expected;
    {
        auto root = fresh_storage(path);
        auto archive = OpenChildStorage(*root, L"archive", true);
        REQUIRE(archive);
        make_file(*archive, "archive/notes.txt", 5000, expected);
        auto photos = OpenChildStorage(*archive, L"photos", true);
        REQUIRE(photos);
        for (int i = 1; i <= 20; ++i) make_file(*photos, "archive/photos/photo " + std::to_string(i) + ".jpg", mebibyte, expected);
    }
    // Cut short in the middle of the copy: the copy holds fewer elements than the old folder.
    auto [root, archive] = kill_during_rename(path, expected, "archive/photos", "archive/pictures", 3 * mebibyte);
    tools::interface_holder<IStorage> photos, pictures;
    REQUIRE(archive->OpenStorage(HashedElementName(std::wstring(L"photos")).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr,
                                 0, photos.put()) == S_OK);
    REQUIRE(archive->OpenStorage(HashedElementName(std::wstring(L"pictures")).c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                 nullptr, 0, pictures.put()) == S_OK);
    CHECK(testing::list_elements(pictures.get()).size() < testing::list_elements(photos.get()).size());
}

TEST_CASE("killed during a defragmentation" * doctest::skip()) {
    install_service();
    std::wstring path = crash_file(L"defragmentation.orrisafe");
    manifest expected;
    {
        auto root = fresh_storage(path);
        make_file(*root, "big.bin", large, expected);
        auto folder = OpenChildStorage(*root, L"folder", true);
        REQUIRE(folder);
        make_file(*folder, "folder/inner.txt", 3000, expected);
    }
    expected.write(manifest_of(path));
    std::wstring copy = DefragTempFile(path);
    kill_service_during([&](IStorageServer* server) { DefragmentOrThrow(server, path.c_str()); },
                        [&] { return file_size(copy) >= large / 8; });
    // The copy stays beside the storage.
    CHECK(exists(copy));
    left_behind(path);
}

TEST_CASE("killed while a renamed file's old element is destroyed" * doctest::skip()) {
    install_service();
    std::wstring path = crash_file(L"file destroyed.orrisafe");
    manifest expected;
    {
        auto root = fresh_storage(path);
        make_file(*root, "big.bin", 2 * large, expected);
        make_file(*root, "small.txt", 3000, expected);
    }
    kill_while_old_element_goes(path, expected, "big.bin", "renamed.bin", {"big.bin"});
}

TEST_CASE("killed while a renamed folder's old element is destroyed" * doctest::skip()) {
    install_service();
    std::wstring path = crash_file(L"folder destroyed.orrisafe");
    manifest expected;
    std::vector<std::string> photos;
    {
        auto root = fresh_storage(path);
        auto archive = OpenChildStorage(*root, L"archive", true);
        REQUIRE(archive);
        make_file(*archive, "archive/notes.txt", 5000, expected);
        auto folder = OpenChildStorage(*archive, L"photos", true);
        REQUIRE(folder);
        for (int i = 1; i <= 4; ++i) {
            photos.push_back("archive/photos/photo " + std::to_string(i) + ".jpg");
            make_file(*folder, photos.back(), 8 * mebibyte, expected);
        }
        make_file(*folder, "archive/photos/index.txt", 2000, expected);
    }
    kill_while_old_element_goes(path, expected, "archive/photos", "archive/pictures", photos);
}

TEST_CASE("after the kills: the restarted service serves each element once, whole, and leaves no copy behind" *
          doctest::skip()) {
    installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    auto server = ConnectServer();
    for (const wchar_t* name : {L"file rename.orrisafe", L"folder rename.orrisafe", L"defragmentation.orrisafe",
                                L"file destroyed.orrisafe", L"folder destroyed.orrisafe"}) {
        std::wstring path = crash_file(name);
        INFO(tools::to_narrow(path));
        manifest expected = manifest::read(manifest_of(path));
        std::wstring copy = DefragTempFile(path);
        // Only the defragmentation left a copy, until the service opened the storage again.
        bool copy_left = exists(copy);
        CHECK(copy_left == (lstrcmpW(name, L"defragmentation.orrisafe") == 0));
        {
            auto root = OpenStorageOrThrow(server.get(), path.c_str());
            // The open removed what a cut-short defragmentation left.
            CHECK_FALSE(exists(copy));
            check_whole(root.get(), expected);
            CHECK(CloseStorageOrThrow(server.get(), path.c_str()) == S_OK);
        }
        // Nothing of the renames is left on record.
        CHECK_FALSE(has_child(left_behind(path).get(), record_name));
        if (!copy_left) continue;
        // The defragmentation the crash cut short now runs to its end, and leaves no copy either.
        CHECK(DefragmentOrThrow(server.get(), path.c_str()) == S_OK);
        CHECK_FALSE(exists(copy));
        auto root = OpenStorageOrThrow(server.get(), path.c_str());
        check_whole(root.get(), expected);
        CHECK(CloseStorageOrThrow(server.get(), path.c_str()) == S_OK);
    }
}
