// The ID-list routines the namespace code shares: arithmetic on lists of our items below a storage file, their text
// forms, the items a data object carries, the type texts and the change notifications.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include <server/idl/storage_identities.h>
#include <shell/id_list_set.h>
#include <shell/item_type_text.h>
#include <shell/storage_change_notify.h>
#include <shell/storage_item_path.h>
#include <tools/com_object.h>
#include <tools/file_io.h>
#include <tools/tests/test_support.h>

#include "item_id_fixture.h"

using namespace shell_testing;

namespace {

CIdList path_list(const std::wstring& path) { return CIdList(ILCreateFromPathW(path.c_str())); }

// A class's default text under HKEY_CLASSES_ROOT for the scope, put back as it was afterwards.
class class_text {
public:
    class_text(const std::wstring& key, const wchar_t* text) : key_(key) {
        wchar_t old[256];
        LONG size = sizeof(old);
        had_ = RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), old, &size) == ERROR_SUCCESS;
        if (had_) old_ = old;
        if (text) RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, text, 0);
        else RegCreateKeyW(HKEY_CLASSES_ROOT, key.c_str(), &created_);
    }
    ~class_text() {
        if (created_) RegCloseKey(created_);
        if (had_) RegSetValueW(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, old_.c_str(), 0);
        else RegDeleteKeyW(HKEY_CLASSES_ROOT, key_.c_str());
    }

private:
    std::wstring key_, old_;
    bool had_ = false;
    HKEY created_ = nullptr;
};

}  // namespace

TEST_CASE("lists of items below a storage file: arithmetic, paths and parse names") {
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    const std::wstring path = dir.file(L"store.orrisafe");
    tools::write_file(path, tools::byte_buffer{1});
    CIdList root = path_list(path), other = path_list(dir.file(L"store.orrisafe.bak"));
    CIdList docs = ItemIdOf(L"docs", FolderElementType), note = ItemIdOf(L"n\u00f6te 1.txt", FileElementType, 5);
    CIdList full = CombineIdLists(root.get(), docs.get());
    AppendIdList(full, note.get());
    CIdList below = CombineIdLists(docs.get(), note.get());

    CHECK(IsIdListPrefix(root.get(), full.get()));
    CHECK(IsIdListPrefix(root.get(), root.get()));
    CHECK_FALSE(IsIdListPrefix(full.get(), root.get()));
    CHECK_FALSE(IsIdListPrefix(root.get(), nullptr));
    CHECK(IdListsEqual(RelativeIdList(root.get(), full.get()), below.get()));
    CHECK(RelativeIdList(root.get(), root.get())->mkid.cb == 0);
    CHECK(testing::raised([&] { RelativeIdList(full.get(), root.get()); }) == E_INVALIDARG);
    // Records compare whole: a list that differs in a reserved byte is another list.
    CIdList changed = CIdList::Clone(full.get());
    reinterpret_cast<BYTE*>(ILFindLastID(changed.get()))[ILFindLastID(changed.get())->mkid.cb - 1] = 1;
    CHECK_FALSE(IdListsEqual(changed.get(), full.get()));
    CHECK(IsIdListPrefix(CombineIdLists(root.get(), docs.get()).get(), changed.get()));

    CHECK(RelativePathText(docs.get()) == L"docs");
    CHECK(RelativePathText(below.get()) == L"docs\\n\u00f6te 1.txt");
    CHECK(LastStorageItem(full.get())->type == FileElementType);
    CHECK(testing::raised([&] { RelativePathText(root.get()); }) == E_INVALIDARG);
    CHECK(testing::raised([&] { LastStorageItem(root.get()); }) == E_INVALIDARG);

    CHECK(IdListPath(root.get()) == path);
    CHECK(FullParseName(root.get(), root.get()) == path);
    CHECK(FullParseName(root.get(), full.get()) == path + L"\\docs\\n\u00f6te 1.txt");
    CHECK(testing::raised([&] { FullParseName(other.get(), full.get()); }) == E_INVALIDARG);
    CHECK(testing::raised([] { IdListPath(nullptr); }) == E_FAIL);

    using parts = std::vector<std::wstring>;
    CHECK(SplitPathText(L"a\\b c") == parts{L"a", L"b c"});
    CHECK(SplitPathText(L"a") == parts{L"a"});
    CHECK(SplitPathText(L"a\\") == parts{L"a"});
    CHECK(SplitPathText(L"a\\\\b") == parts{L"a"});
    CHECK(SplitPathText(L"\\a").empty());
    CHECK(SplitPathText(L"").empty());
}

TEST_CASE("a data object's items: its ID list array checked against its memory, parse names and dropped files") {
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    const std::wstring a = dir.file(L"a.txt"), b = dir.file(L"b \u00e9.bin");
    tools::write_file(a, tools::byte_buffer{1});
    tools::write_file(b, tools::byte_buffer{2});

    // The file-system folder's own data object for two of its files.
    tools::interface_holder<IShellFolder> desktop, folder;
    REQUIRE(SHGetDesktopFolder(desktop.put()) == S_OK);
    CIdList folder_list = path_list(dir.path());
    REQUIRE(desktop->BindToObject(folder_list.get(), nullptr, IID_IShellFolder, folder.put_void()) == S_OK);
    CIdList first(ILClone(ILFindLastID(path_list(a).get()))), second(ILClone(ILFindLastID(path_list(b).get())));
    const ITEMIDLIST* children[] = {first.get(), second.get()};
    tools::interface_holder<IDataObject> data;
    REQUIRE(folder->GetUIObjectOf(nullptr, 2, children, IID_IDataObject, nullptr, data.put_void()) == S_OK);

    IdListSet set;
    REQUIRE(GetShellIdList(set, data.get()) == 2);
    CHECK(IdListPath(set.parent.get()) == dir.path());
    CHECK(IdListPath(CombineIdLists(set.parent.get(), set.children[1].get()).get()) == b);
    CHECK(IdListSetPaths(set) == std::vector<std::wstring>{a, b});
    CHECK(GetDropFileNames(data.get()) == std::vector<std::wstring>{a, b});

    // Arrays that are empty, absent or reach past their memory give no items and leave the set empty.
    CIdList item = ItemIdOf(L"x", FileElementType);
    std::vector<BYTE> good = id_array({folder_list.get(), item.get()});
    id_array_data well_formed(good);
    CHECK(GetShellIdList(set, &well_formed) == 1);
    CHECK(IdListsEqual(set.children[0].get(), item.get()));
    CHECK(GetDropFileNames(&well_formed).empty());

    std::vector<std::vector<BYTE>> refused;
    refused.push_back(id_array({folder_list.get()}));  // count 0
    refused.push_back({});                              // no bytes at all
    refused.push_back(good);
    refused.back()[0] = 0xFF;                           // a count far beyond the block
    refused.push_back(good);
    const UINT past_end = 0x7FFF0000;
    std::memcpy(refused.back().data() + sizeof(UINT) * 2, &past_end, sizeof(UINT));  // a child's offset past the end
    refused.push_back(good);
    refused.back().resize(good.size() - 2);             // the last list without its terminator
    refused.push_back(good);
    refused.back()[good.size() - ILGetSize(item.get())] = 0xFF;  // a record longer than what is left
    for (size_t i = 0; i < refused.size(); ++i) {
        CAPTURE(i);
        id_array_data damaged(refused[i]);
        REQUIRE(GetShellIdList(set, &well_formed) == 1);
        CHECK(GetShellIdList(set, &damaged) == 0);
        CHECK_FALSE(set.parent);
        CHECK(set.children.empty());
    }
    CHECK(GetShellIdList(set, nullptr) == 0);
}

TEST_CASE("type texts: the registered class's text, else the extension in upper case, and the folder's") {
    class_text extension(L".orritesttype", L"OrriTest.Document");
    class_text named(L"OrriTest.Document", L"Orri test document");
    class_text unnamed_extension(L".orriplain", L"OrriTest.Unnamed");
    class_text unnamed(L"OrriTest.Unnamed", nullptr);
    CHECK(ItemTypeText(L"report.orritesttype") == L"Orri test document");
    CHECK(ItemTypeText(L"a.b.ORRITESTTYPE") == L"Orri test document");
    CHECK(ItemTypeText(L"plain.orriplain") == L"ORRIPLAIN File");
    CHECK(ItemTypeText(L"data.xyzunregistered") == L"XYZUNREGISTERED File");
    CHECK(ItemTypeText(L"README") == L"File");
    CHECK(ItemTypeText(L"dot.") == L"File");
    {
        class_text folder(L"Folder", L"Orri folder type");
        CHECK(ItemTypeText(nullptr) == L"Orri folder type");
    }
    CHECK_FALSE(ItemTypeText(nullptr).empty());
}

TEST_CASE("change notifications: the event by kind and by item, with the full lists given") {
    CIdList root(ILCreateFromPathW(L"C:\\windows"));
    CIdList folder = CombineIdLists(root.get(), ItemIdOf(L"docs", FolderElementType).get());
    CIdList file = CombineIdLists(folder.get(), ItemIdOf(L"a.txt", FileElementType, 3).get());
    CIdList renamed = CombineIdLists(folder.get(), ItemIdOf(L"b.txt", FileElementType, 3).get());
    notification_recorder recorder;
    NotifyStorageChange(StorageChange::create, root.get(), folder.get());
    NotifyStorageChange(StorageChange::create, root.get(), file.get());
    NotifyStorageChange(StorageChange::remove, root.get(), folder.get());
    NotifyStorageChange(StorageChange::remove, root.get(), file.get(), renamed.get());
    NotifyStorageChange(StorageChange::rename, root.get(), file.get(), renamed.get());
    NotifyStorageChange(StorageChange::rename, root.get(), folder.get(), renamed.get());
    NotifyStorageChange(StorageChange::update, root.get(), root.get());
    NotifyStorageChange(StorageChange::update, root.get(), file.get());
    NotifyStorageChange(static_cast<StorageChange>(7), root.get(), file.get());
    CIdList elsewhere(ILCreateFromPathW(L"C:\\windows\\system32"));
    CHECK(testing::raised([&] { NotifyStorageChange(StorageChange::update, root.get(), elsewhere.get()); }) ==
          E_INVALIDARG);

    const std::vector<std::pair<LONG, const ITEMIDLIST*>> expected = {
        {SHCNE_MKDIR, folder.get()},   {SHCNE_CREATE, file.get()},     {SHCNE_RMDIR, folder.get()},
        {SHCNE_DELETE, file.get()},    {SHCNE_RENAMEITEM, file.get()}, {SHCNE_RENAMEFOLDER, folder.get()},
        {SHCNE_UPDATEDIR, root.get()}, {SHCNE_UPDATEITEM, file.get()},
    };
    const auto& events = notification_recorder::events;
    REQUIRE(events.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        CAPTURE(i);
        CHECK(events[i].id == expected[i].first);
        CHECK(IdListsEqual(events[i].first.get(), expected[i].second));
        CHECK(!!events[i].second == (i == 4 || i == 5));
    }
}
