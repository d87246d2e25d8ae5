// A storage folder's side toward the server: opened on the worker from other threads against the installed
// service, unlocked with each kind of key, refused when frozen, its sub-folders, its server folder on three kinds of
// thread, and the boxes it and the commands show.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/tests/service_fixture.h>
#include <shell/input_prompt_resources.h>
#include <shell/message_boxes.h>
#include <shell/storage_freeze_query.h>
#include <shell/storage_item_id.h>
#include <shell/storage_key_map.h>
#include <shell/storage_shell_folder.h>
#include <shell/worker_thread.h>
#include <tools/com_error.h>
#include <tools/com_initializer.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/test_support.h>
#include <tools/win_except.h>

#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

CIdList path_id_list(const std::wstring& path) {
    return CIdList(SHSimpleIDListFromPath(path.c_str()));
}

CIdList combined(const ITEMIDLIST* a, const ITEMIDLIST* b) { return CIdList(ILCombine(a, b)); }

// A folder element's item ID, as the folder's listing builds it.
CIdList item_of(IStorageFolder* root, const std::wstring& relative_path) {
    return BuildStorageItemId(FindElementInfoOrThrow(root, relative_path).get());
}

void freeze_in_file_only(const std::wstring& path) {
    auto server = ConnectServer();
    {
        auto root = OpenStorageOrThrow(server.get(), path);
        SetStorageFrozen(root.get(), true);
    }
    CloseStorageOrThrow(server.get(), path);
}

BOOL CALLBACK count_product_boxes(HWND window, LPARAM count) {
    wchar_t text[32] = L"";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetWindowTextW(window, text, 32) &&
        std::wstring(text) == L"Orrisafe")
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

}  // namespace

TEST_CASE("without the service a storage file's folder shows the server box once per attempt, and only then") {
    testing::com_apartment apartment;
    REQUIRE(service_testing::service_state() == 0);
    testing::scratch_dir dir;
    box_answerer boxes;
    CStorageShellFolder folder;
    CHECK_THROWS_AS(folder.OpenStorage(path_id_list(dir.file(L"a.orrisafe")).get()), tools::win_except);
    folder.BindToWorker();
    // A list with no file-system path is the caller's fault, whether the server is there or not: no box.
    CHECK(folder.OpenStorage(nullptr) == E_INVALIDARG);
    ITEMIDLIST* computer = nullptr;
    REQUIRE(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer) == S_OK);
    CHECK(folder.OpenStorage(CIdList(computer).get()) == E_INVALIDARG);
    CHECK(boxes.texts().empty());
    CIdList list = path_id_list(dir.file(L"a.orrisafe"));
    HRESULT first = folder.OpenStorage(list.get());
    HRESULT second = folder.OpenStorage(list.get());
    CHECK(FAILED(first));
    CHECK(second == first);
    CHECK(folder.AbsoluteIdList() == nullptr);
    auto texts = boxes.texts();
    REQUIRE(texts.size() == 2);
    CHECK(texts[0] == server_not_found_text);
    CHECK(texts[1] == server_not_found_text);
}

TEST_CASE("storage folders against the installed service") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    CStorageKeyMap& map = CStorageKeyMap::Instance();
    box_answerer boxes;

    SUBCASE("opened once, unlocked by the installed key, its server folder on every thread") {
        tools::byte_buffer pfx;
        const std::wstring path = MakeStorage(dir, L"installed", SeparateFile, pfx);
        installed_key key(pfx);
        GUID id{};
        {
            CStorageShellFolder folder;
            folder.BindToWorker();
            CIdList list = path_id_list(path);
            REQUIRE(folder.OpenStorage(list.get()) == S_OK);
            CHECK(folder.HoldsKeyReference());
            id = folder.GetFolderStorageId();
            {
                auto server = ConnectServer();
                CHECK(IsEqualGUID(id, GetStorageId(OpenStorageOrThrow(server.get(), path).get())));
            }
            CHECK(map.Count(id) == 1);
            // Opened once: another list changes nothing.
            CIdList other = path_id_list(dir.file(L"other.orrisafe"));
            CHECK(folder.OpenStorage(other.get()) == S_OK);
            CHECK(ILIsEqual(folder.AbsoluteIdList(), list.get()));

            // The thread that made the folder keeps one proxy; the worker gets its own folder; others a new proxy.
            auto mine = folder.GetServer(), again = folder.GetServer();
            CHECK(mine.get() == again.get());
            CHECK(IsRootOrThrow(mine.get()));
            IStorageFolder* on_worker = shell::ForwardToOwner(shell::WorkerThreadId(), [&] {
                auto own = folder.GetServer();
                return own.get();
            });
            CHECK(on_worker != mine.get());
            // Another thread unmarshals anew on every call (COM hands its apartment the one proxy of the object).
            // Assertions stay on this thread: doctest's are not made for others.
            bool own_proxy = false, both_work = false;
            std::thread([&] {
                tools::com_initializer other_apartment;
                auto a = folder.GetServer(), b = folder.GetServer();
                own_proxy = a.get() != mine.get();
                both_work = IsRootOrThrow(a.get()) && IsRootOrThrow(b.get());
            }).join();
            CHECK(own_proxy);
            CHECK(both_work);

            // A second folder of the storage counts the key up.
            CStorageShellFolder second;
            second.BindToWorker();
            REQUIRE(second.OpenStorage(list.get()) == S_OK);
            CHECK(map.Count(id) == 2);
        }
        // Each folder gives its reference back; the entry stays.
        CHECK(map.Count(id) == 0);
        map.Remove(id);
    }

    SUBCASE("an attached key is unlocked with the password the prompt asks for; no key leaves it locked") {
        tools::byte_buffer pfx, plain_pfx;
        const std::wstring attached = MakeStorage(dir, L"attached", AttachOnly, pfx);
        const std::wstring plain = MakeStorage(dir, L"plain", SeparateFile, plain_pfx);
        std::thread answer([] {
            HWND prompt = WaitForWindow(L"Orrisafe", [](HWND w) { return GetDlgItem(w, IDC_INPUT_MASKED) != nullptr; });
            if (!prompt) return;
            SetDlgItemTextW(prompt, IDC_INPUT_MASKED, key_password);
            Press(prompt, IDOK);
        });
        CStorageShellFolder folder;
        folder.BindToWorker();
        HRESULT opened = folder.OpenStorage(path_id_list(attached).get());
        answer.join();
        REQUIRE(opened == S_OK);
        CHECK(folder.HoldsKeyReference());
        CHECK(map.Find(folder.GetFolderStorageId()).bytes().size() == 16);

        CStorageShellFolder locked;
        locked.BindToWorker();
        REQUIRE(locked.OpenStorage(path_id_list(plain).get()) == S_OK);
        CHECK_FALSE(locked.HoldsKeyReference());
        CHECK(testing::raised([&] { map.Find(locked.GetFolderStorageId()); }) == E_ACCESSDENIED);
        map.Remove(folder.GetFolderStorageId());
    }

    SUBCASE("a frozen storage is refused without opening it, and a failed open can be tried again") {
        tools::byte_buffer pfx;
        const std::wstring path = MakeStorage(dir, L"frozen", SeparateFile, pfx);
        freeze_in_file_only(path);
        CStorageShellFolder folder;
        folder.BindToWorker();
        CIdList list = path_id_list(path);
        CHECK(folder.OpenStorage(list.get()) == E_ACCESSDENIED);
        // Frozen by its property: now watched, and the server keeps the file closed.
        {
            auto server = ConnectServer();
            CHECK(GetWatchStateOrThrow(server.get(), path) == 0);
            CHECK_FALSE(IsStorageOpenOrThrow(server.get(), path));
        }
        CHECK(testing::file_is_free(path));
        CHECK(shell::IsStorageFrozenAtPath(path));
        CHECK(testing::file_is_free(path));
        CHECK(folder.OpenStorage(list.get()) == E_ACCESSDENIED);
        CHECK(folder.AbsoluteIdList() == nullptr);

        // A path with no storage yet fails; once the storage is there the same folder opens.
        const std::wstring later = dir.file(L"later.orrisafe");
        CStorageShellFolder early;
        early.BindToWorker();
        CIdList later_list = path_id_list(later);
        CHECK(FAILED(early.OpenStorage(later_list.get())));
        CHECK(testing::raised([&] { early.GetServer(); }) == E_NOINTERFACE);
        MakeStorage(dir, L"later", SeparateFile, pfx);
        CHECK(early.OpenStorage(later_list.get()) == S_OK);
        CHECK(IsRootOrThrow(early.GetServer().get()));
    }

    SUBCASE("a folder element opens below its storage; foreign and misplaced item IDs are refused") {
        tools::byte_buffer pfx;
        const std::wstring path = MakeStorage(dir, L"tree", SeparateFile, pfx);
        CStorageShellFolder root;
        root.BindToWorker();
        CIdList storage_list = path_id_list(path);
        REQUIRE(root.OpenStorage(storage_list.get()) == S_OK);
        auto server_root = root.GetServer();
        OpenFolderOrThrow(OpenFolderOrThrow(server_root.get(), L"docs", VARIANT_TRUE).get(), L"inner", VARIANT_TRUE);
        OpenFileOrThrow(server_root.get(), L"note.txt", VARIANT_TRUE);
        CIdList docs = combined(storage_list.get(), item_of(server_root.get(), L"docs").get());
        CIdList inner = combined(docs.get(), item_of(server_root.get(), L"docs\\inner").get());
        CIdList note = combined(storage_list.get(), item_of(server_root.get(), L"note.txt").get());
        CIdList foreign = path_id_list(dir.file(L"tree.pfx"));
        CIdList elsewhere = combined(path_id_list(dir.file(L"elsewhere.orrisafe")).get(),
                                     item_of(server_root.get(), L"docs").get());
        const GUID id = root.GetFolderStorageId();

        // Made by the parent on the worker, where the storage's root folder lives.
        struct opened_below {
            HRESULT hr;
            std::wstring name;
            GUID id;
        };
        auto open_below = [&](const ITEMIDLIST* list) {
            return shell::ForwardToOwner(shell::WorkerThreadId(), [&] {
                CStorageShellFolder child(id, root.GetServer().get(), storage_list.get());
                child.BindToWorker();
                opened_below result{child.OpenStorage(list), L"", child.GetFolderStorageId()};
                if (result.hr == S_OK) result.name = std::wstring(GetNameOrThrow(child.GetServer().get()));
                return result;
            });
        };
        opened_below inner_folder = open_below(inner.get());
        CHECK(inner_folder.hr == S_OK);
        CHECK(inner_folder.name == L"inner");
        CHECK(IsEqualGUID(inner_folder.id, id));
        CHECK(open_below(docs.get()).name == L"docs");
        CHECK(open_below(note.get()).hr == E_FAIL);
        CHECK(open_below(foreign.get()).hr == E_INVALIDARG);
        CHECK(open_below(elsewhere.get()).hr == E_FAIL);
        CHECK(open_below(storage_list.get()).hr == E_INVALIDARG);
        if (root.HoldsKeyReference()) map.Remove(id);
    }

    CHECK(boxes.texts().empty());
}

TEST_CASE("error boxes stand one at a time; questions answer yes or no; no box is owned by another thread") {
    const std::wstring denied = tools::format_win_error(ERROR_ACCESS_DENIED);
    std::vector<std::wstring> seen;
    std::atomic<int> simultaneous{0};
    std::thread answer([&] {
        for (int i = 0; i < 2; ++i) {
            HWND box = WaitForWindow(L"Orrisafe");
            if (!box) return;
            int count = 0;
            EnumWindows(count_product_boxes, reinterpret_cast<LPARAM>(&count));
            if (count > 1) ++simultaneous;
            seen.push_back(BoxText(box));
            Press(box, IDOK);
            WaitUntilGone(box);
        }
    });
    std::thread other([] { shell::ShowErrorBox(nullptr, ERROR_ACCESS_DENIED, L"Unable to copy 'a'"); });
    shell::ShowErrorBox(nullptr, static_cast<DWORD>(E_ACCESSDENIED));
    other.join();
    answer.join();
    CHECK(simultaneous == 0);
    REQUIRE(seen.size() == 2);
    std::sort(seen.begin(), seen.end());
    CHECK(seen[0] == L"An error has occured:\n\n" + denied);
    CHECK(seen[1] == L"Unable to copy 'a'\n\n" + denied);

    for (int expected : {IDYES, IDNO}) {
        std::thread press([expected] {
            HWND box = WaitForWindow(L"Orrisafe question");
            if (box) Press(box, expected);
        });
        CHECK(shell::ShowMessageBoxCheck(nullptr, L"Go on?", L"Orrisafe question", nullptr) == expected);
        press.join();
    }

    // A window of a thread that is still there.
    HWND foreign = nullptr;
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        foreign = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        SetEvent(made);
        WaitForSingleObject(done, INFINITE);
        DestroyWindow(foreign);
    });
    WaitForSingleObject(made, INFINITE);
    HWND own = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(foreign);
    CHECK(shell::BoxOwner(own) == own);
    CHECK(shell::BoxOwner(foreign) == nullptr);
    CHECK(shell::BoxOwner(nullptr) == nullptr);
    SetEvent(done);
    owner.join();
    CloseHandle(made);
    CloseHandle(done);
    DestroyWindow(own);
}
