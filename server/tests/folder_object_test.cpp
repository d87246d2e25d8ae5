// Folder objects over real storage files, in one apartment: opening, creating, naming, listing, finding,
// renaming and deleting, and the bookkeeping that keeps one object per open folder.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>
#include <server/idl/storage_identities.h>

#include <algorithm>
#include <string>
#include <vector>

#include <element_info.h>
#include <element_store.h>
#include <hashed_element_name.h>
#include <open_storage_table.h>
#include <storage_object.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"
#include <tools/tests/allocation_hooks.h>

using object_testing::bstr;
using object_testing::name_of;
using Folder = tools::interface_holder<IStorageFolder>;
using File = tools::interface_holder<IStorageFile>;

namespace {

constexpr HRESULT not_found = STG_E_FILENOTFOUND;
constexpr HRESULT already_exists = STG_E_FILEALREADYEXISTS;

using apartment = tools::com_initializer;

// A storage file opened as the server opens it, with the server's table of open storages.
struct open_storage {
    apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"test.orrisafe");
    COpenStorageTable table{L"", nullptr, nullptr};
    Folder root;

    open_storage() {
        object_testing::create_storage_file(path);
        HRESULT hr = E_FAIL;
        root.reset(CStorageObject::CreateRootFolder(table, path, &hr));
        REQUIRE(hr == S_OK);
        REQUIRE(root);
    }
    ~open_storage() { root.reset(); }

    Folder folder(IStorageFolder* in, const std::wstring& name, VARIANT_BOOL create, HRESULT expected = S_OK) {
        Folder out;
        CHECK(in->OpenFolder(bstr(name), create, out.put()) == expected);
        if (expected != S_OK) CHECK_FALSE(out);
        return out;
    }
    File file(IStorageFolder* in, const std::wstring& name, VARIANT_BOOL create, HRESULT expected = S_OK) {
        File out;
        CHECK(in->OpenFile(bstr(name), create, out.put()) == expected);
        if (expected != S_OK) CHECK_FALSE(out);
        return out;
    }
};

std::vector<std::wstring> listing(IStorageFolder* folder) {
    tools::interface_holder<IElementEnum> elements;
    REQUIRE(folder->EnumElements(elements.put()) == S_OK);
    std::vector<std::wstring> names;
    tools::interface_holder<IElementInfo> info;
    while (elements->Next(info.put()) == S_OK) {
        long type = 0;
        info->GetType(&type);
        names.push_back((type == FolderElementType ? L"folder " : L"file ") + name_of(info.get()));
    }
    return names;
}

std::wstring text_of(const VARIANT& v) { return v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<not text>"; }

const GUID comment_key = {0xF64FAA41, 0x9EC6, 0x4361, {0x88, 0x94, 0x7F, 0x29, 0x52, 0x25, 0x64, 0x82}};

}  // namespace

TEST_CASE("a root folder reports itself as the storage file and is entered in the server's table") {
    open_storage s;
    long type = 0;
    CHECK(s.root->GetType(&type) == S_OK);
    CHECK(type == FolderElementType);
    VARIANT_BOOL root = VARIANT_FALSE;
    CHECK(s.root->IsRoot(&root) == S_OK);
    CHECK(root == VARIANT_TRUE);
    // The root's name is the one the compound file reports: the file's path.
    std::wstring name = name_of(s.root.get());
    CHECK(name.size() >= 13);
    CHECK(_wcsicmp(name.substr(name.size() - 13).c_str(), L"test.orrisafe") == 0);
    CHECK(s.table.Find(s.path) != nullptr);
    CHECK(s.table.Find(L"TEST.ORRISAFE") == nullptr);
    // Released by its last holder, it leaves the table and closes the file.
    s.root.reset();
    CHECK(s.table.Empty());
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("a storage file that cannot be opened makes no root folder") {
    apartment com;
    testing::scratch_dir dir;
    COpenStorageTable table(L"", nullptr, nullptr);
    HRESULT hr = S_OK;
    CHECK(CStorageObject::CreateRootFolder(table, dir.file(L"missing.orrisafe"), &hr) == nullptr);
    CHECK(FAILED(hr));
    // A file that is not a compound file.
    std::wstring text = dir.file(L"text.orrisafe");
    HANDLE h = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, "not a storage", 13, &written, nullptr);
    CloseHandle(h);
    CHECK(CStorageObject::CreateRootFolder(table, text, &hr) == nullptr);
    CHECK(FAILED(hr));
    CHECK(table.Empty());
}

TEST_CASE("folders open as one object per name and are created only by VARIANT_TRUE") {
    open_storage s;
    s.folder(s.root.get(), L"Docs", 1, not_found);  // 1 is not VARIANT_TRUE
    CHECK(listing(s.root.get()).empty());
    Folder docs = s.folder(s.root.get(), L"Docs", VARIANT_TRUE);
    REQUIRE(docs);
    Folder again = s.folder(s.root.get(), L"DOCS", 0);
    CHECK(again.get() == docs.get());
    // Already open: taken from the table, the create flag does not matter.
    Folder created_again = s.folder(s.root.get(), L"docs", VARIANT_TRUE);
    CHECK(created_again.get() == docs.get());
    CHECK(name_of(docs.get()) == L"Docs");
    VARIANT_BOOL root = VARIANT_TRUE;
    CHECK(docs->IsRoot(&root) == S_OK);
    CHECK(root == VARIANT_FALSE);

    // Two parts, created level by level.
    Folder deep = s.folder(s.root.get(), L"Docs\\2024", VARIANT_TRUE);
    REQUIRE(deep);
    CHECK(name_of(deep.get()) == L"2024");
    CHECK(listing(docs.get()) == std::vector<std::wstring>{L"folder 2024"});
    // A trailing backslash names the folder before it.
    CHECK(s.folder(s.root.get(), L"Docs\\", 0).get() == docs.get());
    CHECK(s.folder(s.root.get(), L"docs\\2024\\", 0).get() == deep.get());
    // Two backslashes in a row are an invalid name, as wherever a path is read; nothing is made on the way.
    s.folder(s.root.get(), L"Docs\\\\2024", 0, STG_E_INVALIDNAME);
    s.folder(s.root.get(), L"New\\\\2024", VARIANT_TRUE, STG_E_INVALIDNAME);
    s.folder(s.root.get(), L"Docs\\\\", 0, STG_E_INVALIDNAME);
    // No part at all.
    s.folder(s.root.get(), L"", VARIANT_TRUE, E_FAIL);
    s.folder(s.root.get(), L"\\Docs", VARIANT_TRUE, E_FAIL);
    s.folder(s.root.get(), L"\\", VARIANT_TRUE, E_FAIL);
    Folder none;
    CHECK(s.root->OpenFolder(nullptr, VARIANT_TRUE, none.put()) == E_FAIL);

    // An existing folder that is not open is not created again.
    deep.reset();
    s.folder(s.root.get(), L"Docs\\2024", VARIANT_TRUE, already_exists);
    s.folder(s.root.get(), L"Missing\\x", 0, not_found);
    s.folder(s.root.get(), L"bad|name", VARIANT_TRUE, STG_E_INVALIDNAME);
    CHECK(listing(s.root.get()) == std::vector<std::wstring>{L"folder Docs"});
}

TEST_CASE("files open by name or by path, and only the file at the end of a path is created") {
    open_storage s;
    File report = s.file(s.root.get(), L"Report.txt", VARIANT_TRUE);
    REQUIRE(report);
    long type = 0;
    CHECK(report->GetType(&type) == S_OK);
    CHECK(type == FileElementType);
    CHECK(name_of(report.get()) == L"Report.txt");
    IStorageFolder* parent = reinterpret_cast<IStorageFolder*>(1);
    CHECK(report->DetachParent(&parent) == S_FALSE);
    CHECK(parent == nullptr);

    s.file(s.root.get(), L"Sub\\a.txt", VARIANT_TRUE, not_found);  // folders are never created for a file
    CHECK(listing(s.root.get()) == std::vector<std::wstring>{L"file Report.txt"});
    Folder sub = s.folder(s.root.get(), L"Sub", VARIANT_TRUE);
    File deep = s.file(s.root.get(), L"Sub\\a.txt", VARIANT_TRUE);
    REQUIRE(deep);
    CHECK(listing(sub.get()) == std::vector<std::wstring>{L"file a.txt"});
    // The whole name is the file's name: a trailing backslash is a bad name, once the folders before it are open.
    s.file(s.root.get(), L"Report.txt\\", 0, STG_E_INVALIDNAME);
    s.file(s.root.get(), L"Sub\\a.txt\\", 0, STG_E_INVALIDNAME);
    s.file(s.root.get(), L"Missing\\a.txt\\", 0, not_found);
    s.file(s.root.get(), L"\\Report.txt", 0, E_FAIL);
    s.file(s.root.get(), L"", VARIANT_TRUE, E_FAIL);
    s.file(s.root.get(), L"what?.txt", VARIANT_TRUE, STG_E_INVALIDNAME);
    s.file(s.root.get(), L"missing.txt", 0, not_found);
}

TEST_CASE("properties are kept per element and the name is changed only by renaming") {
    open_storage s;
    File file = s.file(s.root.get(), L"notes.txt", VARIANT_TRUE);
    REQUIRE(file);
    VARIANT value;
    VariantInit(&value);
    CHECK(file->GetProperty(comment_key, &value) == S_OK);
    CHECK(value.vt == VT_EMPTY);

    VARIANT comment;
    VariantInit(&comment);
    comment.vt = VT_BSTR;
    comment.bstrVal = SysAllocString(L"c29tZSB0ZXh0");
    CHECK(file->SetProperty(comment_key, comment) == S_OK);
    CHECK(file->GetProperty(comment_key, &value) == S_OK);
    CHECK(text_of(value) == L"c29tZSB0ZXh0");
    VariantClear(&value);

    // The name key is refused by both writers and the name stays.
    CHECK(file->SetProperty(ElementNameProperty, comment) == E_INVALIDARG);
    CHECK(file->DeleteProperty(ElementNameProperty) == E_INVALIDARG);
    CHECK(name_of(file.get()) == L"notes.txt");
    VariantClear(&comment);

    CHECK(file->DeleteProperty(comment_key) == S_OK);
    CHECK(file->GetProperty(comment_key, &value) == S_OK);
    CHECK(value.vt == VT_EMPTY);

    // A root property.
    VARIANT frozen;
    VariantInit(&frozen);
    frozen.vt = VT_BSTR;
    frozen.bstrVal = SysAllocString(L"root value");
    CHECK(s.root->SetProperty(comment_key, frozen) == S_OK);
    VariantClear(&frozen);
    CHECK(s.root->GetProperty(comment_key, &value) == S_OK);
    CHECK(text_of(value) == L"root value");
    VariantClear(&value);
}

TEST_CASE("an element whose stored name is not text has no name") {
    apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"damaged.orrisafe");
    object_testing::create_storage_file(path);
    {
        StorageHolder store = OpenStorageFile(path);
        REQUIRE(store);
        StreamHolder stream = OpenChildStream(*store, L"odd.bin", true);
        REQUIRE(stream);
        VARIANT number;
        VariantInit(&number);
        number.vt = VT_I4;
        number.lVal = 42;
        REQUIRE(stream->WriteProperty(ElementNameProperty, number));
    }
    COpenStorageTable table(L"", nullptr, nullptr);
    Folder root(CStorageObject::CreateRootFolder(table, path));
    REQUIRE(root);
    File odd;
    REQUIRE(root->OpenFile(bstr(L"odd.bin"), 0, odd.put()) == S_OK);
    BSTR name = reinterpret_cast<BSTR>(1);
    CHECK(odd->GetName(&name) == E_FAIL);
    CHECK(name == nullptr);
    // The listing shows it under its stand-in, which deletes it.
    std::wstring stand_in = StandInName(HashedElementName(std::wstring(L"odd.bin")));
    tools::interface_holder<IElementEnum> elements;
    REQUIRE(root->EnumElements(elements.put()) == S_OK);
    tools::interface_holder<IElementInfo> info;
    REQUIRE(elements->Next(info.put()) == S_OK);
    CHECK(object_testing::name_of(info.get()) == stand_in);
    odd.reset();
    CHECK(root->DeleteElement(bstr(stand_in)) == S_OK);
    CHECK(root->FindElementInfo(bstr(stand_in), info.put()) == E_NOINTERFACE);
}

TEST_CASE("listing takes a snapshot and never opens the children") {
    open_storage s;
    File a = s.file(s.root.get(), L"a.txt", VARIANT_TRUE);
    Folder b = s.folder(s.root.get(), L"b", VARIANT_TRUE);
    a.reset();
    b.reset();
    tools::interface_holder<IElementEnum> elements;
    REQUIRE(s.root->EnumElements(elements.put()) == S_OK);
    File c = s.file(s.root.get(), L"c.txt", VARIANT_TRUE);  // after the snapshot

    std::vector<std::wstring> seen;
    tools::interface_holder<IElementInfo> info;
    while (elements->Next(info.put()) == S_OK) seen.push_back(name_of(info.get()));
    CHECK(seen.size() == 2);
    IElementInfo* none = reinterpret_cast<IElementInfo*>(1);
    CHECK(elements->Next(&none) == S_FALSE);
    CHECK(none == nullptr);
    CHECK(elements->Next(&none) == S_FALSE);
    CHECK(elements->Reset() == S_OK);
    REQUIRE(elements->Next(info.put()) == S_OK);
    CHECK(name_of(info.get()) == seen[0]);
    // The children listed are not open: they can be opened now (exclusively).
    CHECK(s.file(s.root.get(), L"a.txt", 0));
    CHECK(listing(s.root.get()).size() == 3);

    // An empty folder.
    Folder empty = s.folder(s.root.get(), L"empty", VARIANT_TRUE);
    tools::interface_holder<IElementEnum> nothing;
    REQUIRE(empty->EnumElements(nothing.put()) == S_OK);
    CHECK(nothing->Next(info.put()) == S_FALSE);
}

TEST_CASE("elements are found by relative path, opened or only described") {
    open_storage s;
    s.file(s.root.get(), L"a\\x.txt", VARIANT_TRUE, not_found);
    Folder a = s.folder(s.root.get(), L"a\\inner", VARIANT_TRUE);
    a.reset();
    { s.file(s.root.get(), L"a\\x.txt", VARIANT_TRUE); }

    tools::interface_holder<IStorageElement> found;
    CHECK(s.root->FindElement(bstr(L"A\\X.TXT"), found.put()) == S_OK);
    REQUIRE(found);
    long type = 0;
    found->GetType(&type);
    CHECK(type == FileElementType);
    CHECK(name_of(found.get()) == L"x.txt");
    found.reset();
    CHECK(s.root->FindElement(bstr(L"a\\inner"), found.put()) == S_OK);
    REQUIRE(found);
    found->GetType(&type);
    CHECK(type == FolderElementType);
    found.reset();
    CHECK(s.root->FindElement(bstr(L"a\\nothing"), found.put()) == E_NOINTERFACE);
    CHECK(s.root->FindElement(bstr(L"nothing\\x.txt"), found.put()) == not_found);

    tools::interface_holder<IElementInfo> info;
    CHECK(s.root->FindElementInfo(bstr(L"a"), info.put()) == S_OK);
    REQUIRE(info);
    info->GetType(&type);
    CHECK(type == FolderElementType);
    CHECK(name_of(info.get()) == L"a");
    CHECK(s.root->FindElementInfo(bstr(L"a\\x.txt"), info.put()) == S_OK);
    info->GetType(&type);
    CHECK(type == FileElementType);
    CHECK(s.root->FindElementInfo(bstr(L"zzz"), info.put()) == E_NOINTERFACE);
    CHECK_FALSE(info);

    // The empty path and a trailing backslash name no child: not found, once the folders before it are open.
    CHECK(s.root->FindElement(bstr(L"a\\"), found.put()) == E_NOINTERFACE);
    CHECK(s.root->FindElement(bstr(L""), found.put()) == E_NOINTERFACE);
    CHECK(s.root->FindElement(nullptr, found.put()) == E_NOINTERFACE);
    CHECK(s.root->FindElementInfo(bstr(L"a\\"), info.put()) == E_NOINTERFACE);
    CHECK(s.root->FindElementInfo(bstr(L""), info.put()) == E_NOINTERFACE);
    CHECK_FALSE(found);
    CHECK_FALSE(info);
    CHECK(s.root->FindElement(bstr(L"nothing\\"), found.put()) == not_found);
    // A path that begins with a backslash names nothing; two backslashes in a row are an invalid name.
    CHECK(s.root->FindElement(bstr(L"\\a"), found.put()) == E_FAIL);
    CHECK(s.root->FindElement(bstr(L"a\\\\x.txt"), found.put()) == STG_E_INVALIDNAME);
    CHECK(s.root->FindElementInfo(bstr(L"a\\\\x.txt"), info.put()) == STG_E_INVALIDNAME);
    s.file(s.root.get(), L"a\\\\x.txt", 0, STG_E_INVALIDNAME);
}

TEST_CASE("names match as element identity matches them, letters beyond A to Z included") {
    open_storage s;
    const std::wstring upper = L"\u00c9T\u00c9", lower = L"\u00e9t\u00e9";
    Folder folder = s.folder(s.root.get(), upper, VARIANT_TRUE);
    REQUIRE(folder);
    // One element, so one open object: not a second open that the compound file refuses.
    CHECK(s.folder(s.root.get(), lower, 0).get() == folder.get());
    File file = s.file(folder.get(), upper + L".txt", VARIANT_TRUE);
    REQUIRE(file);

    tools::interface_holder<IElementInfo> info;
    CHECK(s.root->FindElementInfo(bstr(lower + L"\\" + lower + L".TXT"), info.put()) == S_OK);
    REQUIRE(info);
    CHECK(name_of(info.get()) == upper + L".txt");
    tools::interface_holder<IStorageElement> found;
    CHECK(s.root->FindElement(bstr(lower), found.put()) == S_OK);
    REQUIRE(found);
    CHECK(static_cast<IUnknown*>(found.get()) == static_cast<IUnknown*>(static_cast<IStorageElement*>(folder.get())));

    // Deleting under the other spelling cuts the open file off first.
    CHECK(folder->DeleteElement(bstr(lower + L".txt")) == S_OK);
    BSTR name = nullptr;
    CHECK(object_testing::is_object_gone(file->GetName(&name)));
    SysFreeString(name);
    CHECK(listing(folder.get()).empty());
}


TEST_CASE("renaming keeps the element and refuses names that cannot be given") {
    open_storage s;
    File file = s.file(s.root.get(), L"old.txt", VARIANT_TRUE);
    file.reset();
    CHECK(s.root->RenameElement(bstr(L"old.txt"), bstr(L"")) == STG_E_INVALIDNAME);
    CHECK(s.root->RenameElement(bstr(L"old.txt"), nullptr) == STG_E_INVALIDNAME);
    CHECK(s.root->RenameElement(bstr(L"old.txt"), bstr(L"a:b")) == STG_E_INVALIDNAME);
    CHECK(listing(s.root.get()) == std::vector<std::wstring>{L"file old.txt"});
    CHECK(s.root->RenameElement(bstr(L"old.txt"), bstr(L"new.txt")) == S_OK);
    CHECK(listing(s.root.get()) == std::vector<std::wstring>{L"file new.txt"});
    CHECK(s.root->RenameElement(bstr(L"gone.txt"), bstr(L"other.txt")) == not_found);
    File renamed = s.file(s.root.get(), L"new.txt", 0);
    REQUIRE(renamed);
    CHECK(name_of(renamed.get()) == L"new.txt");
}

TEST_CASE("a rename that is refused cuts nobody off, and a folder's new name keeps every path inside it openable") {
    open_storage s;
    Folder x = s.folder(s.root.get(), L"x", VARIANT_TRUE);
    Folder z = s.folder(x.get(), L"z", VARIANT_TRUE);
    s.file(z.get(), L"deep.txt", VARIANT_TRUE);
    File y = s.file(x.get(), L"y.txt", VARIANT_TRUE);
    File f = s.file(s.root.get(), L"f.txt", VARIANT_TRUE);
    s.file(s.root.get(), L"other.txt", VARIANT_TRUE);
    // The deepest path inside x is \z\deep.txt: with \<name> in front, 244 characters fit and 245 do not.
    const std::wstring fits(244, L'n'), too_long(245, L'n');

    CHECK(s.root->RenameElement(bstr(L"x"), bstr(too_long)) == STG_E_INVALIDNAME);
    CHECK(s.root->RenameElement(bstr(L"x"), bstr(L"OTHER.txt")) == already_exists);
    CHECK(s.root->RenameElement(bstr(L"f.txt"), bstr(L"other.txt")) == already_exists);
    CHECK(s.root->RenameElement(bstr(L"gone"), bstr(L"f.txt")) == not_found);
    VARIANT_BOOL root = VARIANT_TRUE;
    CHECK(x->IsRoot(&root) == S_OK);
    CHECK(z->IsRoot(&root) == S_OK);
    unsigned __int64 size = 0;
    CHECK(y->GetSize(&size) == S_OK);
    CHECK(f->GetSize(&size) == S_OK);
    std::vector<std::wstring> names = listing(s.root.get());
    std::sort(names.begin(), names.end());
    CHECK(names == std::vector<std::wstring>{L"file f.txt", L"file other.txt", L"folder x"});

    CHECK(s.root->RenameElement(bstr(L"x"), bstr(fits)) == S_OK);
    CHECK(object_testing::is_object_gone(y->GetSize(&size)));
    // Nothing is open inside it now.
    CHECK(s.root->RenameElement(bstr(fits), bstr(too_long)) == STG_E_INVALIDNAME);
    CHECK(s.file(s.root.get(), fits + L"\\z\\deep.txt", 0));
    CHECK(s.file(s.root.get(), fits + L"\\y.txt", 0));
}

TEST_CASE("a child folder's parent reference can be handed out once") {
    open_storage s;
    Folder child = s.folder(s.root.get(), L"child", VARIANT_TRUE);
    Folder parent;
    CHECK(child->DetachParent(parent.put()) == S_OK);
    CHECK(parent.get() == s.root.get());
    VARIANT_BOOL root = VARIANT_FALSE;
    CHECK(child->IsRoot(&root) == S_OK);
    CHECK(root == VARIANT_TRUE);
    CHECK(child->DetachParent(parent.put()) == S_FALSE);
    CHECK_FALSE(parent);
    CHECK(s.root->DetachParent(parent.put()) == S_FALSE);
    // The parent may now go first: the child still works and later leaves no dangling entry.
    s.root.reset();
    CHECK(name_of(child.get()) == L"child");
    child.reset();
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("the private identity IIDs are not answered and references stay balanced") {
    open_storage s;
    const IID folder_self = {0xCC719A62, 0x1C92, 0x4036, {0xB6, 0x87, 0x87, 0xAD, 0x7A, 0x7E, 0x5D, 0xFE}};
    const IID file_self = {0xCC719A62, 0x1C92, 0x4036, {0xB6, 0x87, 0x87, 0xAD, 0x7A, 0x7E, 0x5D, 0xFD}};
    void* out = reinterpret_cast<void*>(1);
    CHECK(s.root->QueryInterface(folder_self, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);
    File file = s.file(s.root.get(), L"f", VARIANT_TRUE);
    CHECK(file->QueryInterface(file_self, &out) == E_NOINTERFACE);
    tools::interface_holder<IStorageElement> element;
    CHECK(file->QueryInterface(IID_IStorageElement, element.put_void()) == S_OK);
    CHECK(file->QueryInterface(IID_IStorageFolder, &out) == E_NOINTERFACE);
    CHECK(s.root->QueryInterface(IID_IStorageFile, &out) == E_NOINTERFACE);
    // Counts: one for us, one for element.
    CHECK(file->AddRef() == 3);
    CHECK(file->Release() == 2);
}

TEST_CASE("an element record describes its child with the times in the order access, creation, modification") {
    ChildRecord record;
    record.name = L"r\u00e9sum\u00e9.txt";
    record.is_folder = false;
    record.access_time = {1, 10};
    record.creation_time = {2, 20};
    record.modification_time = {3, 30};
    record.size = 0x123456789ull;
    auto info = CElementInfo::Make(record);
    ElementTimes times{};
    CHECK(info->GetTimes(&times) == S_OK);
    CHECK(times.access.dwLowDateTime == 1);
    CHECK(times.creation.dwLowDateTime == 2);
    CHECK(times.modification.dwLowDateTime == 3);
    CHECK(times.modification.dwHighDateTime == 30);
    unsigned __int64 size = 0;
    CHECK(info->GetSize(&size) == S_OK);
    CHECK(size == 0x123456789ull);
    long type = 0;
    CHECK(info->GetType(&type) == S_OK);
    CHECK(type == FileElementType);
    CHECK(name_of(info.get()) == L"r\u00e9sum\u00e9.txt");
    CHECK(info->GetTimes(nullptr) == E_POINTER);
    // The record is a copy: changing the original later changes nothing.
    record.name = L"other";
    CHECK(name_of(info.get()) == L"r\u00e9sum\u00e9.txt");
}

TEST_CASE("a listing that runs out of memory says so, and goes on from the same child afterwards") {
    open_storage s;
    const std::wstring name = L"a folder whose name is longer than any short-string buffer";
    s.folder(s.root.get(), name, VARIANT_TRUE);
    tools::interface_holder<IElementEnum> elements;
    REQUIRE(s.root->EnumElements(elements.put()) == S_OK);
    tools::interface_holder<IElementInfo> info;
    IElementInfo** out = info.put();
    HRESULT hr = S_OK;
    {
        testing::failing_allocations no_memory;
        hr = elements->Next(out);
    }
    CHECK(hr == E_OUTOFMEMORY);
    CHECK_FALSE(info);
    REQUIRE(elements->Next(info.put()) == S_OK);
    CHECK(name_of(info.get()) == name);
}
