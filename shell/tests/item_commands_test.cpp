// The item commands against the installed service: deleting with its question, progress, Cancel and failures; the
// integrity check finding a stream corrupted on disk while the storage was closed, and deleting it through its own
// folder, but not a good copy restored under a listed name meanwhile; the "General" page renaming an item and storing
// its comment.
#include <doctest.h>
#include <windows.h>
#include <commctrl.h>
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
#include <server/hashed_element_name.h>
#include <server/tests/service_fixture.h>
#include <shell/item_command_resources.h>
#include <shell/item_commands.h>
#include <shell/storage_change_notify.h>
#include <shell/storage_item_id.h>
#include <shell/storage_key_map.h>
#include <shell/storage_shell_folder.h>
#include <tools/tests/test_support.h>

#include "item_id_fixture.h"
#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

REGISTER_EXCEPTION_TRANSLATOR(const _com_error& e) {
    char text[48];
    wsprintfA(text, "COM error 0x%08lX", static_cast<unsigned long>(e.Error()));
    return doctest::String(text);
}

namespace {

using folder_ptr = tools::interface_holder<CStorageShellFolder>;

// A served storage opened in a folder, and selections of its root's items.
struct open_storage : served_storage {
    folder_ptr folder;

    open_storage() : served_storage(L"commands") {}
    ~open_storage() {
        folder.reset();
        CStorageKeyMap::Instance().Remove(id);
    }
    void Open() {
        folder = folder_ptr(new CStorageShellFolder());
        REQUIRE(folder->Initialize(List().get()) == S_OK);
    }
    tools::interface_holder<IDataObject> Selection(const std::vector<std::wstring>& names) {
        std::vector<CIdList> items;
        for (const std::wstring& name : names) items.push_back(BuildStorageItemId(FindElementInfoOrThrow(root.get(), name).get()));
        return SelectionOf(folder->AbsoluteIdList(), items);
    }
};

// Answers the windows that come up, in order: each found by its caption and pressed; keeps their texts and owners.
class scripted_answers {
public:
    struct step {
        std::wstring caption;
        int button;
    };
    explicit scripted_answers(std::vector<step> script) : script_(std::move(script)), thread_([this] { run(); }) {}
    ~scripted_answers() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    std::vector<std::wstring> texts;
    std::vector<HWND> owners;
    bool all_came = true;

private:
    void run() {
        for (const step& s : script_) {
            HWND window = WaitForWindow(s.caption);
            if (!window) {
                all_came = false;
                return;
            }
            texts.push_back(BoxText(window));
            owners.push_back(GetWindow(window, GW_OWNER));
            Press(window, s.button);
            WaitUntilGone(window, 5000);
        }
    }
    std::vector<step> script_;
    std::thread thread_;
};


// The "General" page of a sheet of this process: the child of a top-level window that has the name field.
BOOL CALLBACK find_general_page(HWND top, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(top, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(top)) return TRUE;
    for (HWND child = FindWindowExW(top, nullptr, nullptr, nullptr); child; child = FindWindowExW(top, child, nullptr, nullptr))
        if (GetDlgItem(child, IDC_ITEM_NAME)) {
            *reinterpret_cast<HWND*>(found) = child;
            return FALSE;
        }
    return TRUE;
}

// From a connection of its own, as another window would: the file replaced by a good copy, its digest recorded.
void restore_good_copy(const std::wstring& storage_path, const std::wstring& name) {
    testing::com_apartment apartment;
    auto root = OpenStorageOrThrow(ConnectServer().get(), storage_path);
    DeleteElementOrThrow(root.get(), name);
    auto file = OpenFileOrThrow(root.get(), name, VARIANT_TRUE);
    ULONG written = 0;
    const HRESULT hr = GetStreamOrThrow(file.get())->Write("good copy", 9, &written);
    if (FAILED(hr)) _com_issue_error(hr);
    SetContentDigest(file.get(), GetDigestOrThrow(file.get()));
}

HWND own_window() { return CreateWindowW(L"STATIC", L"owner", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr); }

}  // namespace

TEST_CASE("deleting items: asked by name or count, only a yes deletes, Cancel stops, a failure ends the run") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    open_storage storage;
    OpenFolderOrThrow(storage.root.get(), L"docs", VARIANT_TRUE);
    for (const wchar_t* name : {L"keep.txt", L"a", L"b", L"c"}) storage.Write(name, 10);
    for (int i = 0; i < 60; ++i) storage.Write(L"many" + std::to_wstring(i), 1, false);
    storage.Open();
    HWND owner = own_window();

    {  // No: nothing is deleted.
        scripted_answers answers({{L"Orrisafe", IDNO}});
        shell::DeleteItems(*storage.folder.get(), owner, storage.Selection({L"keep.txt"}).get());
        answers.join();
        REQUIRE(answers.texts.size() == 1);
        CHECK(answers.texts[0] == L"Are you sure you want to delete 'keep.txt' ?");
        CHECK(answers.owners[0] == owner);
        CHECK(storage.Exists(L"keep.txt"));
    }
    {  // Yes to several: each deleted and its deletion told, then the folder's update.
        notification_recorder recorder;
        scripted_answers answers({{L"Orrisafe", IDYES}});
        shell::DeleteItems(*storage.folder.get(), owner, storage.Selection({L"docs", L"keep.txt"}).get());
        answers.join();
        REQUIRE(answers.texts.size() == 1);
        CHECK(answers.texts[0] == L"Are you sure you want to delete 2 items ?");
        CHECK_FALSE(storage.Exists(L"docs"));
        CHECK_FALSE(storage.Exists(L"keep.txt"));
        const auto& notified = notification_recorder::events;
        REQUIRE(notified.size() == 3);
        CHECK(notified[0].id == SHCNE_RMDIR);
        CHECK(notified[1].id == SHCNE_DELETE);
        CHECK(notified[2].id == SHCNE_UPDATEDIR);
        CHECK(IdListsEqual(notified[2].first.get(), storage.folder->AbsoluteIdList()));
    }
    {  // Cancel in the progress window stops the run before the next item.
        std::vector<std::wstring> many;
        for (int i = 0; i < 60; ++i) many.push_back(L"many" + std::to_wstring(i));
        scripted_answers answers({{L"Orrisafe", IDYES}, {L"Deleting...", IDCANCEL}});
        shell::DeleteItems(*storage.folder.get(), owner, storage.Selection(many).get());
        answers.join();
        CHECK(answers.all_came);
        int left = 0;
        for (const std::wstring& name : many) left += storage.Exists(name);
        CHECK(left > 0);
        CHECK(left < 60);
        CHECK_FALSE(storage.Exists(L"many0"));
        CHECK(storage.Exists(L"many59"));
    }
    {  // An item deleted by another client meanwhile: its box, owned by the caller's window, ends the run.
        auto selection = storage.Selection({L"a", L"b", L"c"});
        DeleteElementOrThrow(storage.root.get(), L"b");
        scripted_answers answers({{L"Orrisafe", IDYES}, {L"Orrisafe", IDOK}});
        shell::DeleteItems(*storage.folder.get(), owner, selection.get());
        answers.join();
        REQUIRE(answers.texts.size() == 2);
        CHECK(answers.texts[1] == L"Unable to delete 'b'");
        CHECK(answers.owners[1] == owner);
        CHECK_FALSE(storage.Exists(L"a"));
        CHECK(storage.Exists(L"c"));
    }
    {  // Nothing left to delete: no question.
        auto gone = storage.Selection({L"c"});
        DeleteElementOrThrow(storage.root.get(), L"c");
        box_answerer boxes;
        shell::DeleteItems(*storage.folder.get(), owner, gone.get());
        CHECK(boxes.texts().empty());
    }
    DestroyWindow(owner);
}

TEST_CASE("the integrity check finds a stream corrupted on disk and deletes it through its own folder") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    open_storage storage;
    storage.FindFolder(L"sub\\inner");
    storage.Write(L"a.txt", 3000);
    storage.Write(L"sub\\a.txt", 3000);
    storage.Write(L"sub\\inner\\ok.txt", 100);
    storage.Write(L"nodigest.bin", 50, false);
    storage.Write(L"empty.dat", 0, false);

    // Frozen: the server lets the file go, and its bytes are changed on disk meanwhile.
    SetStorageFrozen(storage.root.get(), true);
    storage.root.reset();
    CloseStorageOrThrow(storage.server.get(), storage.path);
    {
        tools::interface_holder<IStorage> file, sub;
        tools::interface_holder<IStream> stream;
        REQUIRE(StgOpenStorageEx(storage.path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_STORAGE, 0,
                                 nullptr, nullptr, IID_IStorage, file.put_void()) == S_OK);
        REQUIRE(file->OpenStorage(HashedElementName(L"sub").c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                  nullptr, 0, sub.put()) == S_OK);
        REQUIRE(sub->OpenStream(HashedElementName(L"a.txt").c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                stream.put()) == S_OK);
        ULONG written = 0;
        REQUIRE(stream->Write("!", 1, &written) == S_OK);
        stream.reset();
        sub->Commit(STGC_DEFAULT);
        sub.reset();
        file->Commit(STGC_DEFAULT);
    }
    storage.Connect();
    SetStorageFrozen(storage.root.get(), false);
    storage.Open();
    HWND owner = own_window();

    {  // Nothing wrong below the intact ones.
        scripted_answers answers({{L"Orrisafe", IDOK}});
        shell::CheckItems(*storage.folder.get(), owner, storage.Selection({L"a.txt", L"empty.dat"}).get());
        answers.join();
        REQUIRE(answers.texts.size() == 1);
        CHECK(answers.texts[0] == L"Test completed.\nThere data is OK. Any corruption was detected.");
    }
    std::vector<std::wstring> listed;
    std::vector<bool> checked;
    std::wstring question;
    bool unchecked_asks_nothing = false, restored = false;
    std::vector<std::wstring> left_over;
    std::thread list_driver([&] {
        HWND dialog = WaitForWindow(L"List of corrupted files");
        if (!dialog) return;
        HWND tree = GetDlgItem(dialog, IDC_CORRUPTED_TREE);
        std::vector<HTREEITEM> items;
        for (auto item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) {
            wchar_t text[64] = L"";
            TVITEMW read{TVIF_TEXT | TVIF_STATE, item, 0, TVIS_STATEIMAGEMASK, text, 64};
            TreeView_GetItem(tree, &read);
            listed.push_back(text);
            checked.push_back((read.state >> 12) == 2);
            items.push_back(item);
        }
        testing::screenshot(L"shell-shots", "corrupted-files");
        // Nothing checked: "Delete selected" asks nothing.
        for (HTREEITEM item : items) TreeView_SetCheckState(tree, item, FALSE);
        Press(dialog, IDC_CORRUPTED_DELETE);
        unchecked_asks_nothing = !WaitForWindow(L"Orrisafe", {}, 700);
        // Meanwhile, from another window: a good copy restored under one of the listed names.
        restored = testing::raised([&] { restore_good_copy(storage.path, L"nodigest.bin"); }) == S_OK;
        // Both checked: the file below "sub", and the name that now carries the good copy.
        for (HTREEITEM item : items) TreeView_SetCheckState(tree, item, TRUE);
        Press(dialog, IDC_CORRUPTED_DELETE);
        if (HWND box = WaitForWindow(L"Orrisafe")) {
            question = BoxText(box);
            Press(box, IDYES);
            WaitUntilGone(box);
        }
        if (HWND progress = WaitForWindow(L"Deleting", {}, 3000)) WaitUntilGone(progress);
        for (auto item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) {
            wchar_t text[64] = L"";
            TVITEMW read{TVIF_TEXT | TVIF_STATE, item, 0, TVIS_STATEIMAGEMASK, text, 64};
            TreeView_GetItem(tree, &read);
            left_over.push_back(std::wstring(text) + ((read.state >> 12) == 2 ? L" (checked)" : L""));
        }
        Press(dialog, IDC_CORRUPTED_CLOSE);
    });
    shell::CheckItems(*storage.folder.get(), owner, storage.Selection({L"a.txt", L"sub", L"nodigest.bin", L"empty.dat"}).get());
    list_driver.join();
    CHECK(listed == std::vector<std::wstring>{L"a.txt", L"nodigest.bin"});
    CHECK(checked == std::vector<bool>{true, true});
    CHECK(unchecked_asks_nothing);
    REQUIRE(restored);
    CHECK(question == L"Are you sure you want to delete 2 items ?");
    CHECK_FALSE(storage.Exists(L"sub\\a.txt"));
    CHECK(storage.Exists(L"a.txt"));
    // The good copy stays, and so does its entry, no longer checked.
    CHECK(storage.Exists(L"nodigest.bin"));
    CHECK(left_over == std::vector<std::wstring>{L"nodigest.bin"});
    CHECK(storage.Exists(L"sub\\inner\\ok.txt"));
    DestroyWindow(owner);
}

TEST_CASE("the General page shows an item and renames it and stores its comment; an emptied name changes nothing") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    open_storage storage;
    storage.Write(L"report.orrx", 2048);
    storage.Open();
    extensions_shown_as shown(true);
    HWND owner = own_window();

    struct page_texts {
        std::wstring name, type, size, comment;
    };
    // Finds the page by its name field, reads it, fills in name and comment, and presses OK.
    auto drive = [](const wchar_t* new_name, const wchar_t* new_comment, page_texts& seen, bool shoot) {
        return std::thread([=, &seen] {
            HWND page = nullptr;
            for (DWORD start = GetTickCount(); !page && GetTickCount() - start < 15000; Sleep(50))
                EnumWindows(&find_general_page, reinterpret_cast<LPARAM>(&page));
            if (!page) return;
            auto text = [&](int id) {
                wchar_t buffer[512] = L"";
                GetDlgItemTextW(page, id, buffer, 512);
                return std::wstring(buffer);
            };
            seen = {text(IDC_ITEM_NAME), text(IDC_ITEM_TYPE), text(IDC_ITEM_SIZE), text(IDC_ITEM_COMMENT)};
            if (shoot) testing::screenshot(L"shell-shots", "general-page");
            SetDlgItemTextW(page, IDC_ITEM_NAME, new_name);
            SetDlgItemTextW(page, IDC_ITEM_COMMENT, new_comment);
            Press(GetParent(page), IDOK);
        });
    };

    CIdList item = BuildStorageItemId(FindElementInfoOrThrow(storage.root.get(), L"report.orrx").get());
    page_texts first;
    std::thread driver = drive(L"renamed.orrx", L"Checked in March", first, true);
    CHECK(shell::ShowItemProperties(*storage.folder.get(), owner, item.get()));
    driver.join();
    CHECK(first.name == L"report.orrx");
    CHECK(first.type == L"ORRX File");
    CHECK(first.size == L"2.00 Kb (2 048 bytes)");
    CHECK(first.comment.empty());
    REQUIRE(storage.Exists(L"renamed.orrx"));
    CHECK_FALSE(storage.Exists(L"report.orrx"));
    const ContentKey key = CStorageKeyMap::Instance().Find(storage.id);
    CHECK(GetItemComment(FindElementOrThrow(storage.root.get(), L"renamed.orrx").get(), key.bytes()) ==
          L"Checked in March");

    CIdList renamed = BuildStorageItemId(FindElementInfoOrThrow(storage.root.get(), L"renamed.orrx").get());
    page_texts second;
    driver = drive(L"", L"Another comment", second, false);
    CHECK(shell::ShowItemProperties(*storage.folder.get(), owner, renamed.get()));
    driver.join();
    CHECK(second.comment == L"Checked in March");
    CHECK(storage.Exists(L"renamed.orrx"));
    CHECK(GetItemComment(FindElementOrThrow(storage.root.get(), L"renamed.orrx").get(), key.bytes()) ==
          L"Checked in March");
    DestroyWindow(owner);
}
