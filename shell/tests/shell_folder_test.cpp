// The storage folder as the shell meets it, against the installed service and a storage the wizard's Finish made:
// binding, listing, columns, attributes, order, parsing, names, renaming, its view's callback, storages that are
// locked, frozen or closed under it, items that vanish, and a storage shown in the shell's browser.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/tests/service_fixture.h>
#include <shell/class_table.h>
#include <shell/folder_view_callback.h>
#include <shell/storage_change_notify.h>
#include <shell/storage_item_id.h>
#include <shell/storage_key_map.h>
#include <shell/storage_item_path.h>
#include <shell/storage_shell_folder.h>
#include <tools/com_initializer.h>
#include <tools/text.h>
#include <tools/win_except.h>
#include <tools/tests/test_support.h>

#include "item_id_fixture.h"
#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

using folder_ptr = tools::interface_holder<CStorageShellFolder>;

// A served storage holding docs\ (b.txt, inner\ empty), a.orrx (2048 bytes), one.bin (1 byte), empty.dat (0 bytes).
struct shown_storage : served_storage {
    explicit shown_storage(bool install_key = true) : served_storage(L"shown", install_key) {
        Write(L"docs\\b.txt", 10);
        FindFolder(L"docs\\inner");
        Write(L"a.orrx", 2048);
        Write(L"one.bin", 1);
        Write(L"empty.dat", 0);
    }
};

folder_ptr opened_folder(const shown_storage& storage, HRESULT expected = S_OK) {
    folder_ptr folder(new CStorageShellFolder());
    CIdList list = storage.List();
    REQUIRE(folder->Initialize(list.get()) == expected);
    return folder;
}

std::vector<CIdList> all_items(IShellFolder* folder, SHCONTF flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS) {
    std::vector<CIdList> items;
    tools::interface_holder<IEnumIDList> items_of;
    if (folder->EnumObjects(nullptr, flags, items_of.put()) != S_OK) return items;
    ITEMIDLIST* item = nullptr;
    while (items_of->Next(1, &item, nullptr) == S_OK) items.emplace_back(item);
    return items;
}


std::wstring name_of(const CIdList& item) { return GetStorageItem(item.get())->name; }

std::vector<std::wstring> names_of(const std::vector<CIdList>& items) {
    std::vector<std::wstring> names;
    for (const CIdList& item : items) names.push_back(name_of(item));
    return names;
}

const CIdList& item_named(const std::vector<CIdList>& items, const std::wstring& name) {
    for (const CIdList& item : items)
        if (name_of(item) == name) return item;
    FAIL("no item named ", tools::to_narrow(name));
    return items.front();
}

std::wstring text_of(STRRET& text) {
    wchar_t* out = nullptr;
    if (FAILED(StrRetToStrW(&text, nullptr, &out))) return L"<none>";
    std::wstring result = out;
    CoTaskMemFree(out);
    return result;
}

std::wstring detail(IShellFolder2* folder, const ITEMIDLIST* item, UINT column) {
    SHELLDETAILS details{};
    HRESULT hr = folder->GetDetailsOf(item, column, &details);
    if (FAILED(hr)) return L"<failed " + std::to_wstring(hr) + L">";
    return text_of(details.str);
}

std::wstring display_name(IShellFolder* folder, const ITEMIDLIST* item, SHGDNF flags) {
    STRRET name{};
    HRESULT hr = folder->GetDisplayNameOf(item, flags, &name);
    return FAILED(hr) ? L"<failed>" : text_of(name);
}

short order(IShellFolder* folder, LPARAM how, const CIdList& a, const CIdList& b) {
    HRESULT hr = folder->CompareIDs(how, a.get(), b.get());
    REQUIRE(SUCCEEDED(hr));
    return static_cast<short>(HRESULT_CODE(hr));
}

SFGAOF attributes_of(IShellFolder* folder, std::vector<const ITEMIDLIST*> items, SFGAOF asked = 0xFFFFFFFF,
                     HRESULT* result = nullptr) {
    HRESULT hr = folder->GetAttributesOf(static_cast<UINT>(items.size()), items.data(), &asked);
    if (result) *result = hr;
    return asked;
}


}  // namespace

TEST_CASE("a storage folder against the installed service") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    CStorageKeyMap& map = CStorageKeyMap::Instance();
    box_answerer boxes;
    shown_storage storage;
    const GUID id = GetStorageId(storage.root.get());
    const std::wstring a_comment = std::wstring(97, L'c') + L"\r\nxyz";  // 102 characters

    SUBCASE("made by the class table, bound, listed once in the server's order, its items' bytes and details") {
        tools::interface_holder<IUnknown> made(shell::CreateShellObject(CLSID_StorageShellFolder));
        tools::interface_holder<IShellFolder2> folder;
        REQUIRE(made->QueryInterface(IID_IShellFolder2, folder.put_void()) == S_OK);
        made.reset();
        PIDLIST_ABSOLUTE current = reinterpret_cast<PIDLIST_ABSOLUTE>(1);
        tools::interface_holder<IPersistFolder2> persist;
        REQUIRE(folder->QueryInterface(IID_IPersistFolder2, persist.put_void()) == S_OK);
        CHECK(persist->GetCurFolder(&current) == S_FALSE);
        CHECK(current == nullptr);
        tools::interface_holder<IShellFolder> child;
        CHECK(folder->BindToObject(ItemIdOf(L"docs", FolderElementType).get(), nullptr, IID_IShellFolder,
                                   child.put_void()) == E_FAIL);
        CIdList list = storage.List();
        REQUIRE(persist->Initialize(list.get()) == S_OK);
        REQUIRE(persist->GetCurFolder(&current) == S_OK);
        CHECK(ILIsEqual(current, list.get()));
        ILFree(current);
        CLSID clsid{};
        CHECK(persist->GetClassID(&clsid) == S_OK);
        CHECK(IsEqualCLSID(clsid, CLSID_StorageShellFolder));

        auto items = all_items(folder.get());
        const std::vector<std::wstring> listed = ServerListing(storage.root.get());
        CHECK(names_of(items) == listed);
        REQUIRE(listed.size() == 4);
        CHECK(names_of(all_items(folder.get(), SHCONTF_FOLDERS)) == std::vector<std::wstring>{L"docs"});
        CHECK(all_items(folder.get(), SHCONTF_NONFOLDERS).size() == 3);
        // The record of a known file, byte for byte.
        const CIdList& a = item_named(items, L"a.orrx");
        const BYTE* bytes = reinterpret_cast<const BYTE*>(a.get());
        CHECK(a.get()->mkid.cb == 34 + 2 * 6);
        CHECK(std::memcmp(bytes + 2, &StorageItemSignature, 16) == 0);
        CHECK(std::memcmp(bytes + 18, "\x02\0\0\0\x00\x08\0\0\0\0\0\0", 12) == 0);
        CHECK(std::memcmp(bytes + 30, L"a.orrx", 14) == 0);
        CHECK(*reinterpret_cast<const USHORT*>(bytes + a.get()->mkid.cb) == 0);

        // Columns: headers, then each item's texts.
        SHELLDETAILS header{};
        for (UINT column = 0; column < 4; ++column) {
            REQUIRE(folder->GetDetailsOf(nullptr, column, &header) == S_OK);
            CHECK(header.str.uType == STRRET_CSTR);
            CHECK(std::string(header.str.cStr) == folder_columns[column].title);
            CHECK(header.cxChar == folder_columns[column].width);
            CHECK(header.fmt == LVCFMT_LEFT);
            SHCOLSTATEF state = 0;
            CHECK(folder->GetDefaultColumnState(column, &state) == S_OK);
            CHECK(state == 0x11);
        }
        CHECK(folder->GetDetailsOf(nullptr, 4, &header) == E_FAIL);
        CHECK(detail(folder.get(), a.get(), 1) == L"3 Kb");
        CHECK(detail(folder.get(), item_named(items, L"one.bin").get(), 1) == L"1 Kb");
        CHECK(detail(folder.get(), item_named(items, L"empty.dat").get(), 1) == L"0 Kb");
        CHECK(detail(folder.get(), item_named(items, L"docs").get(), 1) == L"");
        CHECK(detail(folder.get(), a.get(), 2) == L"ORRX File");
        CHECK(detail(folder.get(), a.get(), 3) == L"");

        // Comments: 100 characters whole, longer ones cut to 97 and "...", line breaks as blanks.
        const ContentKey key = map.Find(id);
        // (The server opens a file for one client at a time: each comment is written and let go.)
        SetItemComment(FindElementOrThrow(storage.root.get(), L"a.orrx").get(), a_comment, key.bytes());
        CHECK(detail(folder.get(), a.get(), 3) == std::wstring(97, L'c') + L"...");
        SetItemComment(FindElementOrThrow(storage.root.get(), L"a.orrx").get(), std::wstring(98, L'd') + L"\r\n",
                       key.bytes());
        CHECK(detail(folder.get(), a.get(), 3) == std::wstring(98, L'd') + L"  ");

        // The enumerator: a clone stands where its original stood; Skip past the end ends both Skip and Next.
        tools::interface_holder<IEnumIDList> listing, clone;
        REQUIRE(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, listing.put()) == S_OK);
        ITEMIDLIST* got[4] = {};
        ULONG fetched = 9;
        CHECK(listing->Next(2, got, nullptr) == E_INVALIDARG);
        CHECK(listing->Next(2, got, &fetched) == S_OK);
        REQUIRE(listing->Clone(clone.put()) == S_OK);
        CHECK(listing->Skip(5) == S_FALSE);
        CHECK(listing->Next(1, got + 2, &fetched) == S_FALSE);
        CHECK(fetched == 0);
        CHECK(clone->Next(4, got + 2, &fetched) == S_FALSE);
        CHECK(fetched == 2);
        CHECK(name_of(CIdList(got[2])) == listed[2]);
        for (ITEMIDLIST* item : {got[0], got[1], got[3]}) ILFree(item);
        CHECK(listing->Reset() == S_OK);
        CHECK(listing->Skip(4) == S_OK);

        // Another thread lists through a proxy of its own.
        size_t listed_elsewhere = 0;
        std::thread([&] {
            tools::com_initializer com;
            listed_elsewhere = all_items(folder.get()).size();
        }).join();
        CHECK(listed_elsewhere == 4);
        CHECK(map.Count(id) == 1);
        persist.reset();
        folder.reset();
        CHECK(map.Count(id) == 0);
    }

    SUBCASE("attributes, order and parsing") {
        folder_ptr folder = opened_folder(storage);
        auto items = all_items(folder.get());
        const CIdList &docs = item_named(items, L"docs"), &a = item_named(items, L"a.orrx"),
                      &one = item_named(items, L"one.bin"), &empty = item_named(items, L"empty.dat");

        CHECK(attributes_of(folder.get(), {docs.get()}) == 0xA8000173);
        CHECK(attributes_of(folder.get(), {a.get()}) == 0x73);
        CHECK(attributes_of(folder.get(), {docs.get(), docs.get()}) == 0xA8000123);
        CHECK(attributes_of(folder.get(), {docs.get(), a.get()}) == 0x23);
        CHECK(attributes_of(folder.get(), {}) == 0x23);
        CHECK(attributes_of(folder.get(), {a.get()}, SFGAO_CANRENAME | SFGAO_FOLDER) == SFGAO_CANRENAME);
        HRESULT validated = E_FAIL;
        CHECK(attributes_of(folder.get(), {a.get(), one.get()}, SFGAO_VALIDATE | SFGAO_CANCOPY, &validated) ==
              SFGAO_CANCOPY);
        CHECK(validated == S_OK);
        CIdList foreign(ILCreateFromPathW(storage.path.c_str()));
        HRESULT refused = S_OK;
        attributes_of(folder.get(), {ILFindLastID(foreign.get())}, 0xFFFFFFFF, &refused);
        CHECK(refused == E_INVALIDARG);

        // Folders first whatever the column; sizes, names and types compared by their sign only.
        CHECK(order(folder.get(), 1, docs, empty) == -1);
        CHECK(order(folder.get(), 1, empty, docs) == 1);
        CHECK(order(folder.get(), 1, a, one) == 1);
        CHECK(order(folder.get(), 1, one, a) == -1);
        CHECK(order(folder.get(), 1, a, a) == 1);  // equal sizes give 1
        CHECK(order(folder.get(), 1, docs, docs) == 0);
        CHECK(order(folder.get(), 0, a, one) == -1);
        CHECK(order(folder.get(), 0, a, ItemIdOf(L"A.ORRX", FileElementType)) == 0);
        // Characters far apart: their difference does not fit the 16 bits the shell reads.
        CIdList high = ItemIdOf(L"\uFFEE", FileElementType), low = ItemIdOf(L"\u0001", FileElementType);
        CHECK(order(folder.get(), 0, high, low) == 1);
        CHECK(order(folder.get(), 0, low, high) == -1);
        CHECK(order(folder.get(), SHCIDS_CANONICALONLY | 1, a, one) == -1);
        CHECK(order(folder.get(), 2, a, ItemIdOf(L"z.orrz", FileElementType)) == -1);
        CHECK(order(folder.get(), 2, docs, item_named(items, L"docs")) == 0);
        CHECK(order(folder.get(), 3, a, one) == 0);
        CHECK(folder->CompareIDs(4, a.get(), one.get()) == E_INVALIDARG);
        CHECK(folder->CompareIDs(0, a.get(), foreign.get()) == E_INVALIDARG);

        // Parsing: folders on the way, a file or folder at the end, each part's record; empty parts end the text.
        PIDLIST_RELATIVE parsed = nullptr;
        ULONG eaten = 7, attributes = 0xFFFFFFFF;
        REQUIRE(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"DOCS\\b.txt"), &eaten, &parsed,
                                         &attributes) == S_OK);
        CIdList parsed_list(parsed);
        CHECK(RelativePathText(parsed_list.get()) == L"docs\\b.txt");
        CHECK(attributes == 0x73);
        CHECK(eaten == 0);
        attributes = 0xFFFFFFFF;
        REQUIRE(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"docs\\inner"), nullptr, &parsed,
                                         &attributes) == S_OK);
        CIdList inner(parsed);
        CHECK(attributes == 0xA8000173);
        CHECK(LastStorageItem(inner.get())->type == FolderElementType);
        CHECK(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"\\docs"), nullptr, &parsed, nullptr) ==
              E_FAIL);
        CHECK(parsed == nullptr);
        CHECK(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"docs\\missing"), nullptr, &parsed,
                                       nullptr) == E_NOINTERFACE);
        CHECK(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"a.orrx\\x"), nullptr, &parsed,
                                       nullptr) != S_OK);
    }

    SUBCASE("display names, renaming with and without extensions, and the notifications it sends") {
        folder_ptr folder = opened_folder(storage);
        auto items = all_items(folder.get());
        const CIdList &a = item_named(items, L"a.orrx"), &docs = item_named(items, L"docs");
        {
            extensions_shown_as shown(true);
            CHECK(display_name(folder.get(), a.get(), SHGDN_NORMAL) == L"a.orrx");
            CHECK(display_name(folder.get(), a.get(), SHGDN_FORPARSING) == storage.path + L"\\a.orrx");
            CHECK(display_name(folder.get(), docs.get(), SHGDN_FORADDRESSBAR | SHGDN_FORPARSING) ==
                  storage.path + L"\\docs");
        }
        extensions_shown_as hidden(false);
        CHECK(display_name(folder.get(), a.get(), SHGDN_INFOLDER) == L"a");
        CHECK(display_name(folder.get(), a.get(), SHGDN_FOREDITING) == L"a");
        CHECK(display_name(folder.get(), a.get(), SHGDN_FORPARSING) == storage.path + L"\\a.orrx");
        CHECK(display_name(folder.get(), a.get(), SHGDN_INFOLDER | SHGDN_FORPARSING) == L"a.orrx");
        CHECK(display_name(folder.get(), ItemIdOf(L"", FileElementType).get(), SHGDN_NORMAL) == L"<failed>");

        std::optional<notification_recorder> recorder(std::in_place);
        PITEMID_CHILD renamed = nullptr;
        HRESULT hr = folder->SetNameOf(nullptr, a.get(), L"c", SHGDN_INFOLDER | SHGDN_FOREDITING, &renamed);
        // A name that is taken is refused with the box.
        HRESULT taken = folder->SetNameOf(nullptr, docs.get(), L"empty.dat", SHGDN_NORMAL, nullptr);
        HRESULT wrong_flags = folder->SetNameOf(nullptr, docs.get(), L"d", SHGDN_FORPARSING, nullptr);
        recorder.reset();
        REQUIRE(hr == S_OK);
        CIdList renamed_list(renamed);
        CHECK(name_of(renamed_list) == L"c.orrx");
        CHECK(GetStorageItem(renamed_list.get())->size == 2048);
        CHECK(GetNameOrThrow(FindElementInfoOrThrow(storage.root.get(), L"c.orrx").get()).text() == L"c.orrx");
        CHECK(FAILED(taken));
        CHECK(wrong_flags == E_INVALIDARG);
        const auto& notified = notification_recorder::events;
        REQUIRE(notified.size() == 2);
        CHECK(notified[0].id == SHCNE_RENAMEITEM);
        CHECK(IdListsEqual(notified[0].first.get(), CombineIdLists(folder->AbsoluteIdList(), a.get()).get()));
        CHECK(IdListsEqual(notified[0].second.get(), CombineIdLists(folder->AbsoluteIdList(), renamed_list.get()).get()));
        CHECK(notified[1].id == SHCNE_UPDATEDIR);
        CHECK(IdListsEqual(notified[1].first.get(), folder->AbsoluteIdList()));
        auto texts = boxes.texts();
        REQUIRE(texts.size() == 2);
        CHECK(texts[0].rfind(L"Unable to rename selected item\n\n", 0) == 0);
        CHECK(texts[1] == L"Unable to rename selected item\n\n" + tools::format_win_error(static_cast<DWORD>(E_INVALIDARG)));
    }

    SUBCASE("sub-folders: bound below the storage, listed; files, foreign items and other interfaces refused") {
        folder_ptr folder = opened_folder(storage);
        auto items = all_items(folder.get());
        tools::interface_holder<IShellFolder2> docs, inner;
        REQUIRE(folder->BindToObject(item_named(items, L"docs").get(), nullptr, IID_IShellFolder2, docs.put_void()) ==
                S_OK);
        auto below = all_items(docs.get());
        CHECK(names_of(below) == std::vector<std::wstring>{L"b.txt", L"inner"});
        CHECK(display_name(docs.get(), below[0].get(), SHGDN_FORPARSING) == storage.path + L"\\docs\\b.txt");
        REQUIRE(docs->BindToObject(item_named(below, L"inner").get(), nullptr, IID_IShellFolder2, inner.put_void()) ==
                S_OK);
        tools::interface_holder<IEnumIDList> none;
        CHECK(inner->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, none.put()) == S_FALSE);
        CHECK_FALSE(none);
        tools::interface_holder<IUnknown> refused;
        CHECK(folder->BindToObject(item_named(items, L"one.bin").get(), nullptr, IID_IShellFolder, refused.put_void()) ==
              E_FAIL);
        CHECK(folder->BindToObject(item_named(items, L"docs").get(), nullptr, IID_IStream, refused.put_void()) ==
              E_NOINTERFACE);
        CIdList foreign(ILCreateFromPathW(storage.path.c_str()));
        CHECK(folder->BindToObject(ILFindLastID(foreign.get()), nullptr, IID_IShellFolder, refused.put_void()) ==
              E_INVALIDARG);
        CHECK_FALSE(refused);
        tools::interface_holder<IExtractIconW> icon;
        const ITEMIDLIST* one[] = {below[0].get()};
        REQUIRE(docs->GetUIObjectOf(nullptr, 1, one, IID_IExtractIconW, nullptr, icon.put_void()) == S_OK);
        wchar_t location[MAX_PATH] = L"";
        int index = -1;
        UINT flags = 0;
        CHECK(icon->GetIconLocation(0, location, MAX_PATH, &index, &flags) == S_OK);
        CHECK(location[0] != 0);
        CHECK(index >= 0);
        const ITEMIDLIST* two[] = {below[0].get(), below[1].get()};
        CHECK(docs->GetUIObjectOf(nullptr, 2, two, IID_IExtractIconW, nullptr, icon.put_void()) == E_FAIL);
    }

    SUBCASE("the view's callback: what it asks to be told, and the folder closed once when the view lets it go") {
        folder_ptr folder = opened_folder(storage);
        CHECK(IsEqualGUID(folder->GetFolderStorageId(), id));
        const LONG count = map.Count(id);
        tools::interface_holder<CFolderViewCallback> callback(new CFolderViewCallback(folder.get()));
        const ITEMIDLIST* watched = nullptr;
        LONG events = 0;
        CHECK(callback->MessageSFVCB(49, reinterpret_cast<WPARAM>(&watched), reinterpret_cast<LPARAM>(&events)) == S_OK);
        CHECK(watched == folder->AbsoluteIdList());
        CHECK(events == 0x7FFFFFFF);
        SHChangeNotifyEntry entry{};
        CHECK(callback->MessageSFVCB(25, 0, reinterpret_cast<LPARAM>(&entry)) == S_OK);
        CHECK(entry.fRecursive);
        CHECK(ILIsEqual(entry.pidl, folder->AbsoluteIdList()));
        CHECK(entry.pidl != folder->AbsoluteIdList());
        ILFree(const_cast<ITEMIDLIST*>(entry.pidl));
        CHECK(callback->MessageSFVCB(1, 0, 0) == E_NOTIMPL);

        // Wine's view drops the callback at once: the folder stays open and keeps its one key reference.
        tools::interface_holder<IShellView> view;
        CHECK(folder->CreateViewObject(nullptr, IID_IShellView, view.put_void()) == S_OK);
        view.reset();
        CHECK(all_items(folder.get()).size() == 4);
        CHECK(map.Count(id) == count);

        callback.reset();
        CHECK_FALSE(folder->HoldsKeyReference());
        CHECK(folder->AbsoluteIdList() == nullptr);
        CHECK(map.Count(id) == count - 1);
        tools::interface_holder<IEnumIDList> after;
        CHECK(folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, after.put()) == E_NOINTERFACE);
        folder.reset();
        CHECK(map.Count(id) == count - 1);
    }

    SUBCASE("items that vanish and a storage closed under the folder fail the call, never the caller") {
        folder_ptr folder = opened_folder(storage);
        auto items = all_items(folder.get());
        DeleteElementOrThrow(storage.root.get(), L"one.bin");
        const CIdList& one = item_named(items, L"one.bin");
        CHECK(detail(folder.get(), one.get(), 0) == L"one.bin");
        CHECK(detail(folder.get(), one.get(), 3).rfind(L"<failed", 0) == 0);
        HRESULT validated = S_OK;
        attributes_of(folder.get(), {one.get()}, SFGAO_VALIDATE, &validated);
        CHECK(validated == E_NOINTERFACE);
        CHECK(folder->SetNameOf(nullptr, one.get(), L"x", SHGDN_NORMAL, nullptr) != S_OK);
        CHECK(boxes.texts().size() == 1);

        storage.root.reset();
        CHECK(CloseStorageOrThrow(storage.server.get(), storage.path) == S_OK);
        tools::interface_holder<IEnumIDList> listing;
        CHECK(FAILED(folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, listing.put())));
        tools::interface_holder<IShellFolder> docs;
        CHECK(FAILED(folder->BindToObject(item_named(items, L"docs").get(), nullptr, IID_IShellFolder, docs.put_void())));
        storage.server.reset();
    }
    map.Remove(id);
}

TEST_CASE("storages that are locked, frozen or gone, and names with every allowed character") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    box_answerer boxes;
    {
        // No key unlocks it: it opens, and listing is refused.
        shown_storage locked(false);
        folder_ptr folder = opened_folder(locked);
        tools::interface_holder<IEnumIDList> listing;
        CHECK(folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, listing.put()) == E_ACCESSDENIED);
        tools::interface_holder<IDropTarget> target;
        CHECK(folder->CreateViewObject(nullptr, IID_IDropTarget, target.put_void()) == E_ACCESSDENIED);
    }
    {
        shown_storage frozen;
        SetStorageFrozen(frozen.root.get(), true);
        frozen.root.reset();
        CloseStorageOrThrow(frozen.server.get(), frozen.path);
        frozen.server.reset();
        opened_folder(frozen, E_ACCESSDENIED);
    }
    {
        shown_storage odd;
        const std::wstring name = L" !#$%&'()+,-.;=@[]^_`{}~\u00e9\u00df\u4e2d\U0001F600\t.end";
        odd.Write(name, 3);
        folder_ptr folder = opened_folder(odd);
        extensions_shown_as shown(true);
        auto items = all_items(folder.get(), SHCONTF_NONFOLDERS);
        const CIdList& item = item_named(items, name);
        CHECK(display_name(folder.get(), item.get(), SHGDN_NORMAL) == name);
        CHECK(display_name(folder.get(), item.get(), SHGDN_FORPARSING) == odd.path + L"\\" + name);
        PIDLIST_RELATIVE parsed = nullptr;
        REQUIRE(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(name.c_str()), nullptr, &parsed,
                                         nullptr) == S_OK);
        CHECK(IdListsEqual(CIdList(parsed).get(), item.get()));
        CStorageKeyMap::Instance().Remove(folder->GetFolderStorageId());
    }
    CHECK(boxes.texts().empty());
}
