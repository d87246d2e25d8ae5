// Files and folders of the file system into a storage, against the installed service: the drop target's effects and
// refusals, a tree that lands whole with its digests, failures, cancels and the overwrite question that lose nothing,
// paste, the background menu's New Folder, and one real drag over the folder's hosted view.
#include <doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>

#include <server/client/server_calls.h>
#include <server/tests/service_fixture.h>
#include <server/idl/storage_identities.h>
#include <shell/dword_formats.h>
#include <shell/progress_window_resources.h>
#include <shell/folder_drop_target.h>
#include <shell/storage_change_notify.h>
#include <shell/storage_item_path.h>
#include <shell/transfer_items.h>

#include "item_id_fixture.h"
#include "test_data_object.h"
#include "test_shell_browser.h"
#include "transfer_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

constexpr DWORD copy_or_move = DROPEFFECT_COPY | DROPEFFECT_MOVE;

DWORD entered(IDropTarget* target, IDataObject* data, DWORD keys, DWORD allowed = copy_or_move) {
    DWORD effect = allowed;
    REQUIRE(target->DragEnter(data, keys, POINTL{0, 0}, &effect) == S_OK);
    return effect;
}

// A drag that enters with the keys held, then drops with the buttons already up, as a real drop arrives.
DWORD dropped(IDropTarget* target, IDataObject* data, DWORD keys, DWORD allowed = copy_or_move) {
    entered(target, data, keys, allowed);
    DWORD effect = allowed;
    REQUIRE(target->Drop(data, 0, POINTL{0, 0}, &effect) == S_OK);
    return effect;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

bool is_question(HWND box) { return GetDlgItem(box, IDYES) != nullptr; }

// Answers every question box while it lives, and counts them.
class question_answerer {
public:
    question_answerer(int button, bool tick) : thread_([this, button, tick] {
          while (!stop_)
              if (HWND box = WaitForWindow(L"Orrisafe", is_question, 100)) {
                  answer(button, tick)(box);
                  ++asked_;
              }
      }) {}
    ~question_answerer() { stop(); }
    int stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return asked_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> asked_{0};
    std::thread thread_;
};

DWORD answer_values() {
    HKEY answers = nullptr;
    DWORD values = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain",
                      0, KEY_READ, &answers) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(answers, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(answers);
    }
    return values;
}

// Explorer as the source of a move: it removes its items once the target reports the move, by the effect the drop
// returned or by "Performed DropEffect" or "Paste Succeeded" stored in its data; any one of them is enough here.
void act_as_source(const test_data_object& data, const std::vector<std::wstring>& paths, DWORD returned) {
    if (returned != DROPEFFECT_MOVE && data.dword(CFSTR_PERFORMEDDROPEFFECT) != DROPEFFECT_MOVE &&
        data.dword(CFSTR_PASTESUCCEEDED) != DROPEFFECT_MOVE)
        return;
    for (const std::wstring& path : paths) {
        const std::wstring from = path + L'\0';
        SHFILEOPSTRUCTW operation{};
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
        SHFileOperationW(&operation);
    }
}

// A drop source that moves the pointer over a point, lets the drag pass over it a few times, then drops.
class scripted_drop_source final : public tools::com_object<IDropSource> {
public:
    explicit scripted_drop_source(POINT over) : over_(over) {}
    STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape) return DRAGDROP_S_CANCEL;
        SetCursorPos(over_.x, over_.y);
        return ++asked_ > 6 ? DRAGDROP_S_DROP : S_OK;
    }
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    POINT over_;
    int asked_ = 0;
};

}  // namespace

TEST_CASE("files and folders into a storage through its drop target, paste and New Folder") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    REQUIRE(SUCCEEDED(OleInitialize(nullptr)));
    storage_under_test storage;
    IDropTarget* target = static_cast<IDropTarget*>(storage.folder.get());

    SUBCASE("effects for each key state, refused data, and a tree that lands whole with its digests") {
        box_answerer boxes;
        storage.write_source(L"tree\\zeros.bin", std::vector<BYTE>(8192, 0));
        storage.write_source(L"tree\\ten.txt", pattern(10));
        CreateDirectoryW(storage.source(L"tree\\empty").c_str(), nullptr);
        auto data = test_data_object::of_paths({storage.source(L"tree")});

        const std::pair<DWORD, DWORD> effects[] = {
            {0, DROPEFFECT_COPY},        {MK_LBUTTON, DROPEFFECT_COPY},    {MK_LBUTTON | MK_CONTROL, DROPEFFECT_COPY},
            {MK_CONTROL, DROPEFFECT_COPY}, {MK_LBUTTON | MK_SHIFT, DROPEFFECT_MOVE}, {MK_LBUTTON | MK_ALT, DROPEFFECT_MOVE},
            {MK_RBUTTON, DROPEFFECT_MOVE}, {MK_LBUTTON | MK_CONTROL | MK_SHIFT, DROPEFFECT_NONE},
            {MK_RBUTTON | MK_SHIFT, DROPEFFECT_MOVE}, {MK_ALT, DROPEFFECT_NONE}};
        for (auto [keys, effect] : effects) {
            CAPTURE(keys);
            CHECK(ChooseDropEffect(keys) == effect);
            CHECK(entered(target, data.get(), keys) == effect);
            DWORD over = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
            CHECK(target->DragOver(keys, POINTL{0, 0}, &over) == S_OK);
            CHECK(over == effect);
            CHECK(target->DragLeave() == S_OK);
        }
        // What the source does not allow is not proposed, and not done.
        CHECK(entered(target, data.get(), MK_LBUTTON | MK_SHIFT, DROPEFFECT_COPY) == DROPEFFECT_NONE);
        CHECK(dropped(target, data.get(), MK_LBUTTON | MK_SHIFT, DROPEFFECT_COPY) == DROPEFFECT_NONE);
        CHECK_FALSE(storage.Exists(L"tree"));

        // Plain text, a storage's own items and an array whose offsets leave its memory are refused.
        tools::interface_holder<test_data_object> text(new test_data_object);
        text->put(CF_UNICODETEXT, {'a', 0, 0, 0});
        auto marked = test_data_object::of_paths({storage.source(L"tree")});
        marked->put(StorageSourceFormatName, {1, 0, 0, 0});
        tools::interface_holder<test_data_object> broken(new test_data_object);
        std::vector<BYTE> array = id_array({CIdList(ILCreateFromPathW(storage.dir.path().c_str())).get(),
                                            ItemIdOf(L"x", FileElementType).get()});
        reinterpret_cast<UINT*>(array.data())[2] = static_cast<UINT>(array.size() + 8);
        broken->put(CFSTR_SHELLIDLIST, array);
        for (IDataObject* refused : {static_cast<IDataObject*>(text.get()), static_cast<IDataObject*>(marked.get()),
                                     static_cast<IDataObject*>(broken.get())}) {
            CHECK(entered(target, refused, MK_LBUTTON) == DROPEFFECT_NONE);
            DWORD over = copy_or_move;
            target->DragOver(MK_LBUTTON, POINTL{0, 0}, &over);
            CHECK(over == DROPEFFECT_NONE);
            CHECK(dropped(target, refused, MK_LBUTTON) == DROPEFFECT_NONE);
        }
        CHECK(ServerListing(storage.root.get()).empty());

        // Shift+drag, dropped: a move of the whole tree, reported to the source only now that it is whole.
        DWORD effect = DROPEFFECT_NONE;
        {
            notification_recorder recorder;
            effect = dropped(target, data.get(), MK_LBUTTON | MK_SHIFT);
        }
        CHECK(effect == DROPEFFECT_MOVE);
        CHECK(storage.stored(L"tree\\zeros.bin") == std::vector<BYTE>(8192, 0));
        CHECK(storage.stored(L"tree\\ten.txt") == pattern(10));
        CHECK(ServerListing(OpenFolderOrThrow(storage.root.get(), L"tree\\empty", VARIANT_FALSE).get()).empty());
        CHECK(storage.digest_text(L"tree\\zeros.bin") == L"{00000000-0000-0000-0000-000000000000}");
        CHECK(storage.digest_text(L"tree\\ten.txt") == expected_digest(pattern(10)));
        CHECK(data->dword(CFSTR_PREFERREDDROPEFFECT) == DROPEFFECT_MOVE);
        CHECK(data->dword(CFSTR_PERFORMEDDROPEFFECT) == DROPEFFECT_MOVE);
        CHECK(data->dword(CFSTR_PASTESUCCEEDED) == DROPEFFECT_MOVE);
        // Only the top folder is announced; the sources stay for their owner to remove.
        const auto& events = notification_recorder::events;
        REQUIRE(events.size() == 1);
        CHECK(events[0].id == SHCNE_MKDIR);
        CHECK(std::wstring(LastStorageItem(events[0].first.get())->name) == L"tree");
        CHECK(IsIdListPrefix(storage.folder->AbsoluteIdList(), events[0].first.get()));
        CHECK(file_bytes(storage.source(L"tree\\ten.txt")) == pattern(10));

        // A folder holding a link back to its parent (a Unix link, which Wine reports as a reparse point): the link
        // lands as an empty folder, never followed; what it holds stayed out, so a move of it is reported as a copy.
        wchar_t loop[MAX_PATH] = L"";
        REQUIRE(GetEnvironmentVariableW(L"ORRI_LINK_LOOP", loop, MAX_PATH) > 0);
        CHECK((GetFileAttributesW((std::wstring(loop) + L"\\inner\\back").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT));
        CHECK(dropped(target, test_data_object::of_paths({loop}).get(), MK_LBUTTON | MK_SHIFT) == DROPEFFECT_COPY);
        CHECK(sorted(ServerListing(OpenFolderOrThrow(storage.root.get(), L"link-loop\\inner", VARIANT_FALSE).get())) ==
              std::vector<std::wstring>{L"back", L"file.txt"});
        CHECK(ServerListing(OpenFolderOrThrow(storage.root.get(), L"link-loop\\inner\\back", VARIANT_FALSE).get())
                  .empty());
        CHECK(storage.stored(L"link-loop\\inner\\file.txt") == std::vector<BYTE>{'l', 'o', 'o', 'p', 'e', 'd'});
        CHECK(boxes.texts().empty());
    }

    SUBCASE("a source held open, and cancels at two points: effect none, nothing half stored, nothing reported") {
        box_answerer boxes;
        for (const wchar_t* name : {L"a.bin", L"b.bin", L"c.bin"}) storage.write_source(name, pattern(6000));
        HANDLE held = CreateFileW(storage.source(L"b.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        auto data = test_data_object::of_paths({storage.source(L"a.bin"), storage.source(L"b.bin"),
                                                storage.source(L"c.bin")});
        CHECK(dropped(target, data.get(), MK_LBUTTON) == DROPEFFECT_NONE);
        CloseHandle(held);
        CHECK(ServerListing(storage.root.get()) == std::vector<std::wstring>{L"a.bin"});
        CHECK(storage.digest_text(L"a.bin") == expected_digest(pattern(6000)));
        CHECK_FALSE(data->has(CFSTR_PERFORMEDDROPEFFECT));
        CHECK_FALSE(data->has(CFSTR_PASTESUCCEEDED));
        auto texts = boxes.texts();
        REQUIRE(texts.size() == 1);
        CHECK(texts[0] == L"Unable to copy '" + storage.source(L"b.bin") + L"'\n\n" +
                              tools::format_win_error(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))));

        // Cancelled in the middle of the second of three files: the first stays whole, the rest is not there.
        DeleteElementOrThrow(storage.root.get(), L"a.bin");
        storage.write_source(L"b.bin", pattern(2 << 20, 3));
        {
            window_script cancel(L"Moving...", cancel_when_copying(L"b.bin"));
            CHECK(dropped(target, data.get(), MK_LBUTTON | MK_SHIFT) == DROPEFFECT_NONE);
            CHECK(cancel.done());
        }
        CHECK(ServerListing(storage.root.get()) == std::vector<std::wstring>{L"a.bin"});
        CHECK_FALSE(data->has(CFSTR_PERFORMEDDROPEFFECT));

        // Cancelled in the last file of a folder that was there before: the folder's old contents stay, the new
        // file is gone, and the transfer does not pass for one that ran to its end.
        storage.write_stored(L"old\\kept.txt", pattern(5));
        storage.write_source(L"old\\big.bin", pattern(2 << 20, 5));
        auto old = test_data_object::of_paths({storage.source(L"old")});
        {
            window_script cancel(L"Copying...", cancel_when_copying(L"big.bin"));
            CHECK(dropped(target, old.get(), MK_LBUTTON) == DROPEFFECT_NONE);
            CHECK(cancel.done());
        }
        CHECK(ServerListing(OpenFolderOrThrow(storage.root.get(), L"old", VARIANT_FALSE).get()) ==
              std::vector<std::wstring>{L"kept.txt"});
        CHECK(storage.stored(L"old\\kept.txt") == pattern(5));
        CHECK_FALSE(old->has(CFSTR_PERFORMEDDROPEFFECT));
        CHECK(boxes.texts().size() == 1);

        // A folder deleted while the file before it is copied: that file arrives whole, the transfer stops at the
        // folder with the system's reason, and a move reports nothing to its source.
        storage.write_source(L"first.bin", pattern(2 << 20, 7));
        storage.write_source(L"later\\x.txt", pattern(10));
        auto both = test_data_object::of_paths({storage.source(L"first.bin"), storage.source(L"later")});
        {
            window_script remove(L"Moving...", when_copying(L"first.bin", [&](HWND) {
                DeleteFileW(storage.source(L"later\\x.txt").c_str());
                RemoveDirectoryW(storage.source(L"later").c_str());
            }));
            CHECK(dropped(target, both.get(), MK_LBUTTON | MK_SHIFT) == DROPEFFECT_NONE);
            CHECK(remove.done());
        }
        CHECK(storage.stored(L"first.bin") == pattern(2 << 20, 7));
        CHECK(storage.digest_text(L"first.bin") == expected_digest(pattern(2 << 20, 7)));
        CHECK_FALSE(storage.Exists(L"later"));
        CHECK_FALSE(both->has(CFSTR_PERFORMEDDROPEFFECT));
        texts = boxes.texts();
        REQUIRE(texts.size() == 2);
        CHECK(texts[1] == L"Unable to move '" + storage.source(L"later") + L"'\n\n" +
                              tools::format_win_error(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))));
    }

    SUBCASE("the overwrite question: No keeps the old bytes, a ticked No holds for its transfer only, Yes replaces") {
        storage.write_stored(L"x.txt", pattern(7, 1));
        storage.write_stored(L"y.txt", pattern(7, 2));
        storage.write_source(L"x.txt", pattern(5000, 3));
        storage.write_source(L"y.txt", pattern(5000, 4));
        auto one = test_data_object::of_paths({storage.source(L"x.txt")});
        auto both = test_data_object::of_paths({storage.source(L"x.txt"), storage.source(L"y.txt")});
        const DWORD values = answer_values();
        {
            question_answerer no(IDNO, false);
            CHECK(dropped(target, one.get(), MK_LBUTTON) == DROPEFFECT_COPY);
            CHECK(no.stop() == 1);
        }
        CHECK(storage.stored(L"x.txt") == pattern(7, 1));
        {
            // Ticked and answered No: the second clash of the same transfer is not asked, and keeps its file too.
            question_answerer no(IDNO, true);
            CHECK(dropped(target, both.get(), MK_LBUTTON) == DROPEFFECT_COPY);
            CHECK(no.stop() == 1);
        }
        CHECK(storage.stored(L"x.txt") == pattern(7, 1));
        CHECK(storage.stored(L"y.txt") == pattern(7, 2));
        {
            // The next transfer asks again; Yes replaces each file whole, with its digest.
            question_answerer yes(IDYES, true);
            CHECK(dropped(target, both.get(), MK_LBUTTON) == DROPEFFECT_COPY);
            CHECK(yes.stop() == 1);
        }
        CHECK(storage.stored(L"x.txt") == pattern(5000, 3));
        CHECK(storage.stored(L"y.txt") == pattern(5000, 4));
        CHECK(storage.digest_text(L"y.txt") == expected_digest(pattern(5000, 4)));
        CHECK(sorted(ServerListing(storage.root.get())) == std::vector<std::wstring>{L"x.txt", L"y.txt"});
        // No answer is left behind for the transfers to come.
        CHECK(answer_values() == values);

        // A folder of that name is no file to replace: nothing is asked, the transfer stops there with its box, and
        // the folder keeps what it holds.
        storage.write_stored(L"f.txt\\inner.txt", pattern(9));
        storage.write_source(L"f.txt", pattern(100));
        {
            box_answerer boxes;
            CHECK(dropped(target, test_data_object::of_paths({storage.source(L"f.txt")}).get(),
                          MK_LBUTTON | MK_SHIFT) == DROPEFFECT_NONE);
            const auto texts = boxes.texts();
            REQUIRE(texts.size() == 1);
            CHECK(texts[0].rfind(L"Unable to move '" + storage.source(L"f.txt") + L"'\n\n", 0) == 0);
        }
        CHECK(storage.stored(L"f.txt\\inner.txt") == pattern(9));
        CHECK(file_bytes(storage.source(L"f.txt")) == pattern(100));
    }

    SUBCASE("a move that keeps a file is reported as a copy, dropped or pasted: the source keeps every item") {
        const std::vector<std::pair<std::wstring, std::vector<BYTE>>> sources = {
            {L"x.txt", pattern(5000, 3)}, {L"y.txt", pattern(5000, 4)}, {L"z.txt", pattern(5000, 5)},
            {L"dir\\a.txt", pattern(5000, 6)}, {L"dir\\b.txt", pattern(5000, 7)}};
        for (const auto& [name, bytes] : sources) storage.write_source(name, bytes);
        storage.write_stored(L"x.txt", pattern(7, 1));
        storage.write_stored(L"y.txt", pattern(7, 2));
        storage.write_stored(L"dir\\a.txt", pattern(7, 3));
        // The items offered, the answer to the overwrite question (ticked or not), the files that are to be new.
        struct move_case {
            std::vector<std::wstring> items;
            bool tick;
            std::vector<std::wstring> new_files;
        };
        const move_case cases[] = {{{L"x.txt"}, false, {}},
                                   {{L"x.txt", L"y.txt", L"z.txt"}, true, {L"z.txt"}},
                                   {{L"dir"}, false, {L"dir\\b.txt"}}};
        for (const bool paste : {false, true}) {
            for (const move_case& move : cases) {
                CAPTURE(paste);
                CAPTURE(move.items.size());
                std::vector<std::wstring> paths;
                for (const std::wstring& item : move.items) paths.push_back(storage.source(item));
                auto data = test_data_object::of_paths(paths);
                DWORD returned = DROPEFFECT_NONE;
                {
                    question_answerer no(IDNO, move.tick);
                    if (paste) {
                        // A cut pasted: the clipboard's data reaches the transfer without an effect.
                        data->put(CFSTR_PREFERREDDROPEFFECT, {DROPEFFECT_MOVE, 0, 0, 0});
                        CHECK(TransferItems(*storage.folder.get(), data.get(), nullptr, nullptr));
                    } else {
                        returned = dropped(target, data.get(), MK_LBUTTON | MK_SHIFT);
                        CHECK(returned == DROPEFFECT_COPY);
                    }
                    CHECK(no.stop() == 1);
                }
                CHECK(data->dword(CFSTR_PERFORMEDDROPEFFECT) == DROPEFFECT_COPY);
                CHECK(data->dword(CFSTR_PASTESUCCEEDED) == DROPEFFECT_COPY);
                act_as_source(*data.get(), paths, returned);
                for (const auto& [name, bytes] : sources) CHECK(file_bytes(storage.source(name)) == bytes);
                CHECK(storage.stored(L"x.txt") == pattern(7, 1));
                CHECK(storage.stored(L"y.txt") == pattern(7, 2));
                CHECK(storage.stored(L"dir\\a.txt") == pattern(7, 3));
                for (const std::wstring& name : move.new_files) {
                    const std::vector<BYTE> bytes = file_bytes(storage.source(name));
                    CHECK(storage.stored(name) == bytes);
                    CHECK(storage.digest_text(name) == expected_digest(bytes));
                    const size_t cut = name.rfind(L'\\');
                    auto parent = cut == std::wstring::npos ? storage.root : storage.FindFolder(name.substr(0, cut));
                    DeleteElementOrThrow(parent.get(), name.substr(cut + 1));
                }
            }
        }
        // Answered Yes, the same folder arrives whole: now the move is reported, and its source goes.
        auto data = test_data_object::of_paths({storage.source(L"dir")});
        data->put(CFSTR_PREFERREDDROPEFFECT, {DROPEFFECT_MOVE, 0, 0, 0});
        {
            question_answerer yes(IDYES, false);
            CHECK(TransferItems(*storage.folder.get(), data.get(), nullptr, nullptr));
            CHECK(yes.stop() == 1);
        }
        CHECK(data->dword(CFSTR_PASTESUCCEEDED) == DROPEFFECT_MOVE);
        act_as_source(*data.get(), {storage.source(L"dir")}, DROPEFFECT_NONE);
        CHECK(GetFileAttributesW(storage.source(L"dir").c_str()) == INVALID_FILE_ATTRIBUTES);
        CHECK(storage.stored(L"dir\\a.txt") == pattern(5000, 6));
        CHECK(storage.stored(L"dir\\b.txt") == pattern(5000, 7));
        CHECK(storage.digest_text(L"dir\\a.txt") == expected_digest(pattern(5000, 6)));
    }

    SUBCASE("three files and an empty one: every file counts, the bar ends full and one item was left to go") {
        box_answerer boxes;
        for (const wchar_t* name : {L"a.bin", L"b.bin", L"c.bin"}) storage.write_source(name, pattern(3000));
        storage.write_source(L"empty.bin", {});
        auto data = test_data_object::of_paths({storage.source(L"a.bin"), storage.source(L"b.bin"),
                                                storage.source(L"c.bin"), storage.source(L"empty.bin")});
        // Read once the transfer has ended: the window then stands a second longer with Cancel disabled.
        int bar = -1;
        std::wstring remaining;
        {
            window_script last(L"Copying...", [&](HWND dialog) {
                for (DWORD start = GetTickCount();
                     IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) && GetTickCount() - start < 30000;)
                    Sleep(5);
                bar = static_cast<int>(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
                wchar_t line[128] = L"";
                GetDlgItemTextW(dialog, IDC_PROGRESS_MODERN_LINE2, line, 128);
                remaining = line;
            });
            CHECK(dropped(target, data.get(), MK_LBUTTON) == DROPEFFECT_COPY);
            CHECK(last.done());
        }
        CHECK(bar == 100);
        CHECK(remaining == L"1 item remaining");
        CHECK(storage.stored(L"empty.bin").empty());
        CHECK(storage.digest_text(L"empty.bin") == expected_digest({}));
        CHECK(boxes.texts().empty());
    }

    SUBCASE("the background menu: New Folder three times, paste from the clipboard, and its verbs") {
        box_answerer boxes;
        test_shell_browser browser(L"Orrisafe new folders", 600, 300);
        REQUIRE(browser.Show(storage.folder.get()) == S_OK);
        HMENU menu = CreatePopupMenu();
        CHECK(storage.folder->QueryContextMenu(menu, 0, 40, 50, CMF_DEFAULTONLY) == S_OK);
        CHECK(storage.folder->QueryContextMenu(menu, 0, 40, 50, CMF_NORMAL) == MAKE_HRESULT(0, 0, 1));
        wchar_t text[32] = L"";
        GetMenuStringW(menu, 40, text, 32, MF_BYCOMMAND);
        CHECK(std::wstring(text) == L"New Folder");
        DestroyMenu(menu);
        char verb[32] = "";
        CHECK(storage.folder->GetCommandString(1, GCS_VERBA, nullptr, verb, 32) == E_INVALIDARG);
        CHECK(storage.folder->GetCommandString(0, GCS_VERBA, nullptr, verb, 32) == S_OK);
        CHECK(std::string(verb) == "ors:new_folder");
        wchar_t help[32] = L"";
        CHECK(storage.folder->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(help), 32) == S_OK);
        CHECK(std::wstring(help) == L"Create a new folder.");
        CHECK(storage.folder->GetCommandString(0, GCS_VERBA, nullptr, verb, 5) == E_OUTOFMEMORY);

        CMINVOKECOMMANDINFO invoke{sizeof(invoke)};
        invoke.hwnd = browser.window();
        invoke.lpVerb = "ors:new_folder";
        // Each new folder stands in the view with its name open for editing (left unchanged here).
        auto made = [&](const std::wstring& name) {
            CHECK(storage.folder->InvokeCommand(&invoke) == S_OK);
            CHECK(storage.Exists(name));
            HWND edit = reinterpret_cast<HWND>(SendMessageW(browser.List(), LVM_GETEDITCONTROL, 0, 0));
            wchar_t editing[64] = L"";
            if (edit) GetWindowTextW(edit, editing, 64);
            CHECK(std::wstring(editing) == name);
            SendMessageW(browser.List(), LVM_CANCELEDITLABEL, 0, 0);
        };
        made(L"New Folder");
        made(L"New Folder (1)");
        made(L"New Folder (2)");
        CHECK(sorted(ServerListing(storage.root.get())) ==
              std::vector<std::wstring>{L"New Folder", L"New Folder (1)", L"New Folder (2)"});
        // Names are compared with A-Z folded only; the command may be given by its number.
        storage.write_stored(L"new folder (3)", {});
        invoke.lpVerb = MAKEINTRESOURCEA(0);
        made(L"New Folder (4)");
        invoke.lpVerb = "ORS:NEW_FOLDER";
        CHECK(storage.folder->InvokeCommand(&invoke) == E_NOTIMPL);

        // A cut of files on disk, pasted: a move, reported with the effects as it ran to its end.
        storage.write_source(L"p.txt", pattern(100));
        auto cut = test_data_object::of_paths({storage.source(L"p.txt")});
        cut->put(CFSTR_PREFERREDDROPEFFECT, {DROPEFFECT_MOVE, 0, 0, 0});
        REQUIRE(OleSetClipboard(cut.get()) == S_OK);
        window_script moving(L"Moving...", [](HWND) {});
        invoke.lpVerb = "paste";
        CHECK(storage.folder->InvokeCommand(&invoke) == S_OK);
        CHECK(moving.done());
        OleSetClipboard(nullptr);
        CHECK(storage.stored(L"p.txt") == pattern(100));
        CHECK(boxes.texts().empty());
    }

    SUBCASE("one real drag of files on disk over the folder's hosted view") {
        storage.write_source(L"dragged.txt", pattern(3000));
        CIdList parent(ILCreateFromPathW(storage.dir.file(L"src").c_str()));
        tools::interface_holder<IShellFolder> desktop, source;
        REQUIRE(SHGetDesktopFolder(desktop.put()) == S_OK);
        REQUIRE(desktop->BindToObject(parent.get(), nullptr, IID_IShellFolder, source.put_void()) == S_OK);
        ITEMIDLIST* item = nullptr;
        REQUIRE(source->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"dragged.txt"), nullptr, &item,
                                         nullptr) == S_OK);
        CIdList held(item);
        const ITEMIDLIST* items[] = {held.get()};
        tools::interface_holder<IDataObject> data;
        REQUIRE(source->GetUIObjectOf(nullptr, 1, items, IID_IDataObject, nullptr, data.put_void()) == S_OK);

        test_shell_browser browser(L"Orrisafe drop view", 600, 300);
        REQUIRE(browser.Show(storage.folder.get()) == S_OK);
        PumpMessages(300);
        RECT area{};
        GetWindowRect(browser.List(), &area);
        tools::interface_holder<scripted_drop_source> drag(
            new scripted_drop_source({(area.left + area.right) / 2, area.bottom - 40}));
        DWORD effect = DROPEFFECT_NONE;
        CHECK(DoDragDrop(data.get(), drag.get(), copy_or_move, &effect) == DRAGDROP_S_DROP);
        CHECK(effect == DROPEFFECT_COPY);
        CHECK(storage.stored(L"dragged.txt") == pattern(3000));
        CHECK(storage.digest_text(L"dragged.txt") == expected_digest(pattern(3000)));
    }
    OleUninitialize();
}
