#include <doctest.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/compound_file_image.h>
#include <tools/tests/test_support.h>
#include "raw_directory.h"

#include <platform/compound_file_check.h>
#include <platform/property_set_name.h>
#include <platform/property_set_storage.h>
#include <server/element_store.h>
#include <server/rename_record.h>
#include <tools/element_name.h>
#include <tools/named_property.h>
#include <tools/text.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

namespace {

constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr HRESULT already_exists = static_cast<HRESULT>(0x80030050);

struct variant {
    VARIANT v;
    variant() { VariantInit(&v); }
    explicit variant(const std::wstring& text) {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    ~variant() { VariantClear(&v); }
    std::wstring text() const { return v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<not a string>"; }
};

// A new empty storage file, opened the way the server opens one.
StorageHolder new_store(const std::wstring& path) {
    testing::create_docfile(path);
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    REQUIRE(hr == S_OK);
    REQUIRE(root);
    return root;
}

StorageHolder reopen(const std::wstring& path) {
    HRESULT hr = E_FAIL;
    StorageHolder root = OpenStorageFile(path, &hr);
    REQUIRE(hr == S_OK);
    return root;
}

std::vector<std::wstring> names_of(const std::vector<std::pair<std::wstring, DWORD>>& elements) {
    std::vector<std::wstring> names;
    for (auto& [name, type] : elements) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> child_names(CStorageWrapper& folder) {
    std::vector<ChildRecord> children;
    REQUIRE(EnumChildren(folder, children));
    std::vector<std::wstring> names;
    for (auto& c : children) names.push_back(c.name);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring read_text(CElementWrapper& element, const GUID& key) {
    variant value;
    REQUIRE(element.ReadProperty(key, &value.v));
    return value.v.vt == VT_EMPTY ? L"<empty>" : value.text();
}

void write_data(IStream* stream, const std::string& data) {
    ULONG written = 0;
    REQUIRE(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written) == S_OK);
}

std::string read_data(IStream* stream) {
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string data(4096, '\0');
    ULONG read = 0;
    stream->Read(data.data(), static_cast<ULONG>(data.size()), &read);
    data.resize(read);
    return data;
}

bool is_guid_text(const std::wstring& text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        wchar_t c = text[i];
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != L'-' : !(std::iswdigit(c) || (c >= L'A' && c <= L'F'))) return false;
    }
    return true;
}

}  // namespace

namespace {
std::wstring beside_this_program(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}
}  // namespace

TEST_CASE("storage file held by another process") {
    std::wstring path = testing::env(L"ORRI_STORE_CHILD");
    if (path.empty()) return;  // only as the child of the storage-file test
    HRESULT hr = S_OK;
    CHECK_FALSE(OpenStorageFile(path, &hr));
    CHECK(hr == STG_E_SHAREVIOLATION);
}

TEST_CASE("HashedElementName: fixed vectors of the platform's HashData over the lower-cased name") {
    struct vector_case {
        const wchar_t* name;
        const wchar_t* hashed;
    };
    const vector_case vectors[] = {
        {L"a", L"d36nb6 s00ho1 12bpii5 3unb3og"},
        {L"x", L"3d3gp4m psntg7 26aso6u nfhrvg"},
        {L"b", L"28hmang 2ktg4op 3l4309v 1ap51km"},
        {L"report.txt", L"15h36qu 25d5jlb 105a5re 2ce27ig"},
        {L"Report.txt", L"15h36qu 25d5jlb 105a5re 2ce27ig"},
        {L"REPORT.TXT", L"15h36qu 25d5jlb 105a5re 2ce27ig"},
        {L"\u00c9t\u00e9 \u0416", L"1t1rf6t 3mftdpl i4pgdm 1hev3lp"},
        {L"\u00e9t\u00e9 \u0436", L"1t1rf6t 3mftdpl i4pgdm 1hev3lp"},
        {L"a very long name with spaces and digits 0123456789", L"7o8khk 2iro5hn 2o6bs4j 71285h"},
    };
    for (const auto& v : vectors) {
        INFO(tools::to_narrow(v.name));
        std::wstring hashed = HashedElementName(std::wstring(v.name));
        CHECK(hashed == v.hashed);
        // The name turns back into the hash bytes, which are the FMTID of the element's set.
        CHECK(IsEqualGUID(ParseElementName(hashed), ElementNameHash(v.name)));
        CHECK(IsEqualGUID(ElementPropertySet(v.name), ElementNameHash(v.name)));
    }
    CHECK(tools::bytes_to_hex(&static_cast<const GUID&>(ElementNameHash(L"a")), 16) == L"665d331a0147003845cabc44108f75fd");
    // Radix 32 without leading zeros: words 0, 31, 32 and the largest.
    GUID words;
    const unsigned char bytes[16] = {0, 0, 0, 0, 31, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(&words, bytes, 16);
    CHECK(HashedElementName(words) == L"0 v 10 3vvvvvv");
    // Characters after an embedded NUL are not part of the name.
    CHECK(HashedElementName(std::wstring(L"a\0b", 3)) == HashedElementName(std::wstring(L"a")));
}

TEST_CASE("names that differ only in letter case are one element") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"case.orrisafe"));
    {
        auto first = OpenChildStream(*root, L"Report.txt", true);
        REQUIRE(first);
        write_data(first->Stream(), "first content");
    }
    CHECK_FALSE(OpenChildStream(*root, L"REPORT.TXT", true));
    CHECK(root->LastResult() == already_exists);
    CHECK_FALSE(OpenChildStorage(*root, L"report.TXT", true));
    CHECK(root->LastResult() == already_exists);
    auto second = OpenChildStream(*root, L"REPORT.TXT", false);
    REQUIRE(second);
    CHECK(read_data(second->Stream()) == "first content");
    CHECK(read_text(*second, ElementNameProperty) == L"Report.txt");
    CHECK(child_names(*root) == std::vector<std::wstring>{L"Report.txt"});
    // Opening what is not there fails and creates nothing.
    CHECK_FALSE(OpenChildStream(*root, L"missing", false));
    CHECK(root->LastResult() == STG_E_FILENOTFOUND);
    CHECK(testing::list_elements(root->Storage()).size() == 2);
}

TEST_CASE("forbidden characters, the empty name and NUL are refused and nothing is created") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"names.orrisafe"));
    auto before = testing::list_elements(root->Storage());
    for (wchar_t c : std::wstring(L"/\\:*?\"<>|")) {
        std::wstring name = std::wstring(L"bad") + c + L"name";
        INFO(tools::to_narrow(name));
        CHECK_FALSE(ValidateElementName(*root, name));
        CHECK_FALSE(OpenChildStream(*root, name, true));
        CHECK(root->LastResult() == STG_E_INVALIDNAME);
        CHECK_FALSE(OpenChildStorage(*root, name, true));
        CHECK(root->LastResult() == STG_E_INVALIDNAME);
    }
    CHECK_FALSE(OpenChildStream(*root, L"", true));
    CHECK(root->LastResult() == STG_E_INVALIDNAME);
    CHECK_FALSE(OpenChildStream(*root, std::wstring(L"a\0b", 3), true));
    CHECK(root->LastResult() == STG_E_INVALIDNAME);
    CHECK(testing::list_elements(root->Storage()) == before);
    // Everything else is a name, control characters and leading blanks included.
    CHECK(ValidateElementName(*root, L" .\x01 name#%&+,;=@[]^`{}~"));
}

TEST_CASE("the display path from the root is at most 256 characters") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"length.orrisafe"));
    CHECK(OpenChildStream(*root, std::wstring(255, L'n'), true));
    CHECK_FALSE(OpenChildStream(*root, std::wstring(256, L'm'), true));
    CHECK(root->LastResult() == STG_E_INVALIDNAME);
    CHECK_FALSE(ValidateElementName(*root, std::wstring(257, L'm')));

    auto a = OpenChildStorage(*root, L"a", true);
    REQUIRE(a);
    CHECK(OpenChildStream(*a, std::wstring(253, L'n'), true));
    CHECK_FALSE(OpenChildStream(*a, std::wstring(254, L'm'), true));
    CHECK(a->LastResult() == STG_E_INVALIDNAME);
    auto b = OpenChildStorage(*a, L"bb", true);
    REQUIRE(b);
    CHECK(ValidateElementName(*b, std::wstring(250, L'n')));  // \a\bb\ + 250
    CHECK_FALSE(ValidateElementName(*b, std::wstring(251, L'n')));
    CHECK(child_names(*a).size() == 2);
}

TEST_CASE("creating a stream leaves one hashed stream and one set holding exactly its name and identity") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"layout.orrisafe");
    std::wstring id;
    {
        auto root = new_store(path);
        auto x = OpenChildStream(*root, L"x", true);
        REQUIRE(x);
        variant read;
        REQUIRE(x->ReadElementId(&read.v));
        id = read.text();
        auto folder = OpenChildStorage(*root, L"folder", true);
        REQUIRE(folder);
        CHECK(read_text(*folder, ElementNameProperty) == L"folder");
    }
    tools::interface_holder<IStorage> storage = testing::open_docfile(path);
    auto elements = testing::list_elements(storage.get());
    std::wstring hashed = HashedElementName(std::wstring(L"x"));
    std::wstring set_name = platform::property_set_stream_name(ElementNameHash(L"x"));
    int streams = 0, sets = 0;
    for (auto& [name, type] : elements) {
        if (name == hashed && type == STGTY_STREAM) ++streams;
        if (name == set_name && type == STGTY_STREAM) ++sets;
    }
    CHECK(streams == 1);
    CHECK(sets == 1);
    CHECK(elements.size() == 4);  // x, its set, folder, its set

    // Wine's own reader finds exactly the two properties.
    auto wine = testing::wine_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(wine->Open(ElementNameHash(L"x"), child_mode, set.put()) == S_OK);
    IEnumSTATPROPSTG* e = nullptr;
    REQUIRE(set->Enum(&e) == S_OK);
    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    STATPROPSTG stat{};
    while (e->Next(1, &stat, nullptr) == S_OK) {
        keys.push_back(stat.lpwstrName);
        PROPSPEC spec{};
        spec.ulKind = PRSPEC_LPWSTR;
        spec.lpwstr = stat.lpwstrName;
        PROPVARIANT value;
        PropVariantInit(&value);
        REQUIRE(set->ReadMultiple(1, &spec, &value) == S_OK);
        CHECK(value.vt == VT_BSTR);
        std::wstring text = testing::bstr_text(value);
        if (!text.empty() && text.back() == L'\0') text.pop_back();  // Wine's reader keeps the terminator
        values.push_back(text);
        PropVariantClear(&value);
        CoTaskMemFree(stat.lpwstrName);
    }
    e->Release();
    REQUIRE(keys.size() == 2);
    auto at = [&](const GUID& key) {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == tools::guid_to_string(key)) return values[i];
        return std::wstring(L"<missing>");
    };
    CHECK(at(ElementNameProperty) == L"x");
    CHECK(is_guid_text(at(ElementIdProperty)));
    CHECK(at(ElementIdProperty) == id);
}

TEST_CASE("rename keeps every property and the data, drops the old set, and is right on disk") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"rename.orrisafe");
    std::wstring id;
    {
        auto root = new_store(path);
        auto a = OpenChildStream(*root, L"a", true);
        REQUIRE(a);
        write_data(a->Stream(), "content of a");
        REQUIRE(a->WriteProperty(CommentProperty, variant(L"Y29tbWVudA").v));
        REQUIRE(a->WriteProperty(ContentDigestProperty, variant(L"{00112233-4455-6677-8899-AABBCCDDEEFF}").v));
        id = read_text(*a, ElementIdProperty);
        a.release();
        auto folder = OpenChildStorage(*root, L"folder", true);
        REQUIRE(folder);
        REQUIRE(OpenChildStream(*folder, L"inside", true));
        folder.release();

        // Names whose hashed forms differ in length, so that a stale length in the directory shows.
        REQUIRE(HashedElementName(std::wstring(L"a")).size() != HashedElementName(std::wstring(L"renamed.txt")).size());
        REQUIRE(HashedElementName(std::wstring(L"folder")).size() != HashedElementName(std::wstring(L"b")).size());
        REQUIRE(RenameChild(*root, L"a", L"renamed.txt"));
        REQUIRE(RenameChild(*root, L"folder", L"b"));
    }
    auto root = reopen(path);
    CHECK(child_names(*root) == std::vector<std::wstring>{L"b", L"renamed.txt"});
    auto b = OpenChildStream(*root, L"renamed.txt", false);
    REQUIRE(b);
    CHECK(read_data(b->Stream()) == "content of a");
    CHECK(read_text(*b, ElementNameProperty) == L"renamed.txt");
    CHECK(read_text(*b, ElementIdProperty) == id);
    CHECK(read_text(*b, CommentProperty) == L"Y29tbWVudA");
    CHECK(read_text(*b, ContentDigestProperty) == L"{00112233-4455-6677-8899-AABBCCDDEEFF}");
    auto moved = OpenChildStorage(*root, L"b", false);
    REQUIRE(moved);
    CHECK(child_names(*moved) == std::vector<std::wstring>{L"inside"});
    CHECK_FALSE(OpenChildStream(*root, L"a", false));
    auto names = names_of(testing::list_elements(root->Storage()));
    CHECK(std::count(names.begin(), names.end(), platform::property_set_stream_name(ElementNameHash(L"a"))) == 0);
    CHECK(std::count(names.begin(), names.end(), HashedElementName(std::wstring(L"a"))) == 0);
    CHECK(names.size() == 4);
    b.release();
    moved.release();
    root.release();

    // Another reader of the file sees the new names, with their lengths, in the directory entries.
    auto entries = testing::raw_directory(testing::read_file(path));
    REQUIRE_FALSE(entries.empty());
    int found = 0;
    for (const auto& entry : entries) {
        INFO(tools::to_narrow(entry.name));
        CHECK(entry.length_field == (entry.name.size() + 1) * 2);
        if (entry.name == HashedElementName(std::wstring(L"renamed.txt")) || entry.name == HashedElementName(std::wstring(L"b"))) ++found;
        CHECK(entry.name != HashedElementName(std::wstring(L"a")));
    }
    CHECK(found == 2);
}

TEST_CASE("renaming onto an existing name, or a missing element, changes nothing") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"clash.orrisafe"));
    REQUIRE(OpenChildStream(*root, L"a", true));
    auto b = OpenChildStream(*root, L"b", true);
    REQUIRE(b);
    REQUIRE(b->WriteProperty(CommentProperty, variant(L"b's comment").v));
    b.release();
    auto before = testing::list_elements(root->Storage());

    CHECK_FALSE(RenameChild(*root, L"a", L"B"));
    CHECK(root->LastResult() == already_exists);
    CHECK_FALSE(RenameChild(*root, L"missing", L"c"));
    CHECK(root->LastResult() == STG_E_FILENOTFOUND);
    CHECK_FALSE(RenameChild(*root, L"a", L"c|d"));
    CHECK(root->LastResult() == STG_E_INVALIDNAME);
    CHECK(testing::list_elements(root->Storage()) == before);
    b = OpenChildStream(*root, L"b", false);
    REQUIRE(b);
    CHECK(read_text(*b, ElementNameProperty) == L"b");
    CHECK(read_text(*b, CommentProperty) == L"b's comment");
    b.release();

    // A change of letter case only rewrites the name.
    REQUIRE(RenameChild(*root, L"a", L"A"));
    CHECK(testing::list_elements(root->Storage()) == before);
    CHECK(child_names(*root) == std::vector<std::wstring>{L"A", L"b"});
}

namespace {

// What a crash leaves of a rename of "a" to "b", by how far the rename had come.
struct cut_rename {
    size_t copied;      // bytes of the element's data in its copy
    bool old_gone;      // the copy was whole and the old element destroyed (its set not yet)
    bool copy_is_ours;  // what stands under the new name carries the element's identity
    bool old_is_ours = true;  // what stands under the old name does
    bool marked = false;      // the copy was recorded whole
    bool old_emptied = false; // the old element's destruction had begun: its data was gone, its name not yet
    bool old_cut = false;     // ... and was cut short: its chain ends in a freed sector before its stated size
};

const std::string rename_data = [] {
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 23);
    return data;
}();

// Makes "a" in folder (its data and a comment), then leaves what the rename cut short leaves: the root's record,
// the copy's set and as much of the copy as it had written.
void leave_cut_rename(CStorageWrapper& root, CStorageWrapper& folder, const std::vector<std::wstring>& folder_names,
                      const cut_rename& cut) {
    auto a = OpenChildStream(folder, L"a", true);
    REQUIRE(a);
    write_data(a->Stream(), rename_data);
    REQUIRE(a->WriteProperty(CommentProperty, variant(L"Y29tbWVudA").v));
    std::wstring identity = read_text(*a, ElementIdProperty);
    a.release();
    RenameRecord record{folder_names, HashedElementName(std::wstring(L"a")), HashedElementName(std::wstring(L"b")), identity};
    REQUIRE(WriteRenameRecord(root.Storage(), record) == S_OK);
    tools::interface_holder<IPropertySetStorage> sets;
    REQUIRE(platform::property_set_storage(folder.Storage(), sets.put()) == S_OK);
    GUID copy_set = ElementNameHash(L"b");
    WriteNamedProperty(sets.get(), copy_set, ElementNameProperty, variant(L"b").v);
    std::wstring copy_identity = cut.copy_is_ours ? identity : tools::guid_to_string(tools::new_guid());
    WriteNamedProperty(sets.get(), copy_set, ElementIdProperty, variant(copy_identity).v);
    WriteNamedProperty(sets.get(), copy_set, CommentProperty, variant(L"Y29tbWVudA").v);
    tools::interface_holder<IStream> copy;
    REQUIRE(folder.Storage()->CreateStream(record.new_name.c_str(), child_mode, 0, 0, copy.put()) == S_OK);
    write_data(copy.get(), rename_data.substr(0, cut.copied));
    copy.reset();
    if (cut.marked) REQUIRE(MarkRenameCopied(root.Storage()) == S_OK);
    if (cut.old_emptied && !cut.old_cut) {
        tools::interface_holder<IStream> old;
        REQUIRE(folder.Storage()->OpenStream(record.old_name.c_str(), nullptr, child_mode, 0, old.put()) == S_OK);
        REQUIRE(old->SetSize(ULARGE_INTEGER{}) == S_OK);
    }
    if (cut.old_gone) REQUIRE(folder.Storage()->DestroyElement(record.old_name.c_str()) == S_OK);
    if (!cut.old_is_ours)
        WriteNamedProperty(sets.get(), ElementNameHash(L"a"), ElementIdProperty, variant(tools::guid_to_string(tools::new_guid())).v);
}

// Frees the old element's sectors from the end of its chain, as the platform's destruction does, and stops there.
void cut_old_chain(const std::wstring& path) {
    testing::compound_file_image image(path);
    auto chain = image.chain(image.field(image.find(HashedElementName(std::wstring(L"a"))), image.start));
    REQUIRE(chain.size() == 20);
    for (size_t i = chain.size(); i-- > 5;) image.set_u32(image.fat_at(chain[i]), 0xFFFFFFFF);
    image.save(path);
    REQUIRE(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
}

}  // namespace

TEST_CASE("a rename that a crash cut short is settled at the next open: each element once, whole, under one name") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    struct {
        cut_rename cut;
        std::vector<std::wstring> names;
    } cases[] = {
        {{rename_data.size() / 2, false, true}, {L"a"}},    // during the copy: undone
        {{rename_data.size(), false, true}, {L"a"}},        // copied whole, the old element not yet gone: undone
        {{rename_data.size(), true, true}, {L"b"}},         // the old element gone: done
        {{rename_data.size(), false, true, true, true}, {L"b"}},        // recorded whole: done
        {{rename_data.size(), false, true, true, true, true}, {L"b"}},  // the old element half destroyed: done
        {{rename_data.size(), false, true, true, true, true, true}, {L"b"}},  // ... its chain cut short: done
        {{rename_data.size() / 2, false, false}, {L"a", L"b"}},  // another element under the new name: left alone
        {{rename_data.size() / 2, false, true, false}, {L"a", L"b"}},  // another under the old name: left alone
    };
    int made = 0;
    for (const auto& c : cases) {
        for (bool in_folder : {false, true}) {
            int number = made++;
            INFO("case " << number / 2 << (in_folder ? " in a folder" : " in the root"));
            std::wstring path = dir.file(L"cut" + std::to_wstring(number) + L".orrisafe");
            {
                auto root = new_store(path);
                StorageHolder folder = in_folder ? OpenChildStorage(*root, L"sub", true) : root;
                REQUIRE(folder);
                std::vector<std::wstring> names;
                if (in_folder) names.push_back(HashedElementName(std::wstring(L"sub")));
                leave_cut_rename(*root, *folder, names, c.cut);
                // The record is no element, and one rename is recorded at a time.
                auto left = c.cut.old_gone ? std::vector<std::wstring>{L"b"} : std::vector<std::wstring>{L"a", L"b"};
                CHECK(child_names(*root) == (in_folder ? std::vector<std::wstring>{L"sub"} : left));
                CHECK(WriteRenameRecord(root->Storage(), RenameRecord{{}, names.empty() ? L"0 0 0 1" : names[0], L"0 0 0 2", L""}) ==
                      STG_E_FILEALREADYEXISTS);
            }
            if (c.cut.old_cut) cut_old_chain(path);
            auto root = reopen(path);
            StorageHolder folder = in_folder ? OpenChildStorage(*root, L"sub", false) : root;
            REQUIRE(folder);
            CHECK(child_names(*folder) == c.names);
            auto element = OpenChildStream(*folder, c.names[0], false);
            REQUIRE(element);
            CHECK(read_data(element->Stream()) == rename_data.substr(0, 4096));
            STATSTG stat{};
            REQUIRE(element->Stream()->Stat(&stat, STATFLAG_NONAME) == S_OK);
            CHECK(stat.cbSize.QuadPart == rename_data.size());
            CHECK(read_text(*element, ElementNameProperty) == c.names[0]);
            CHECK(read_text(*element, CommentProperty) == L"Y29tbWVudA");
            element.release();
            // Nothing else is left: one set for each element, and no record.
            CHECK(testing::list_elements(folder->Storage()).size() == 2 * c.names.size());
            if (in_folder) CHECK(testing::list_elements(root->Storage()).size() == 2);
        }
    }

    // The old element's chain cut short, but the rename not recorded whole (or not recorded): damage, refused as such.
    for (bool recorded : {false, true}) {
        std::wstring path = dir.file(L"cut chain " + std::to_wstring(recorded) + L".orrisafe");
        {
            auto root = new_store(path);
            leave_cut_rename(*root, *root, {}, {rename_data.size(), false, true});
            if (!recorded) REQUIRE(RemoveRenameRecord(root->Storage()) == S_OK);
        }
        cut_old_chain(path);
        auto before = testing::read_file(path);
        HRESULT hr = S_OK;
        CHECK(!OpenStorageFile(path, &hr));
        CHECK(hr == STG_E_DOCFILECORRUPT);
        CHECK(testing::read_file(path) == before);
    }

    // A record cut short was written before its rename began: it goes, and nothing else changes.
    std::wstring path = dir.file(L"cut record.orrisafe");
    {
        auto root = new_store(path);
        REQUIRE(OpenChildStream(*root, L"a", true));
        tools::interface_holder<IStream> record;
        REQUIRE(root->Storage()->CreateStream(L"orrisafe-rename", child_mode, 0, 0, record.put()) == S_OK);
        std::wstring text = L"\n" + HashedElementName(std::wstring(L"a")) + L"\n" + HashedElementName(std::wstring(L"b"));
        write_data(record.get(), std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    }
    auto root = reopen(path);
    CHECK(child_names(*root) == std::vector<std::wstring>{L"a"});
    CHECK(testing::list_elements(root->Storage()).size() == 2);
    root.release();
    // A storage with no rename recorded is opened as it always was: nothing in it is written.
    auto before = testing::read_file(path);
    reopen(path).release();
    CHECK(testing::read_file(path) == before);
}

TEST_CASE("enumeration lists folders and files by display name and never a property set") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"enum.orrisafe"));
    REQUIRE(root->WriteProperty(FrozenProperty, [] {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = VARIANT_FALSE;
        return v;
    }()));
    auto file = OpenChildStream(*root, L"data.bin", true);
    REQUIRE(file);
    write_data(file->Stream(), std::string(1000, 'z'));
    file.release();
    REQUIRE(OpenChildStorage(*root, L"Sub Folder", true));
    std::vector<ChildRecord> children;
    REQUIRE(EnumChildren(*root, children));
    REQUIRE(children.size() == 2);
    for (auto& child : children) {
        CHECK(child.parent.get() == root.get());
        if (child.name == L"data.bin") {
            CHECK_FALSE(child.is_folder);
            CHECK(child.size == 1000);
        } else {
            CHECK(child.name == L"Sub Folder");
            CHECK(child.is_folder);
        }
    }
    CHECK(testing::list_elements(root->Storage()).size() == 5);  // two children, their sets, the root's set

    // A child whose set is damaged, or which has no name, is listed under its stand-in beside its
    // healthy siblings, and can be deleted under it.
    {
        tools::interface_holder<IStream> bad;
        std::wstring set_name = platform::property_set_stream_name(ElementNameHash(L"data.bin"));
        REQUIRE(root->Storage()->CreateStream(set_name.c_str(), STGM_CREATE | child_mode, 0, 0, bad.put()) == S_OK);
        ULONG written = 0;
        REQUIRE(bad->Write("\xFE\xFF\x01\x00", 4, &written) == S_OK);
    }
    std::wstring damaged = StandInName(HashedElementName(std::wstring(L"data.bin")));
    CHECK(child_names(*root) == (std::vector<std::wstring>{damaged, L"Sub Folder"}));
    REQUIRE(DeleteChild(*root, damaged));
    CHECK(testing::list_elements(root->Storage()).size() == 3);  // the folder, its set, the root's set
    tools::interface_holder<IStream> nameless;
    std::wstring nameless_stored = HashedElementName(std::wstring(L"nameless"));
    REQUIRE(root->Storage()->CreateStream(nameless_stored.c_str(), child_mode, 0, 0, nameless.put()) == S_OK);
    nameless.reset();
    CHECK(child_names(*root) == (std::vector<std::wstring>{StandInName(nameless_stored), L"Sub Folder"}));
}

TEST_CASE("deleting a child removes it and its set") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"delete.orrisafe"));
    auto before = testing::list_elements(root->Storage());
    auto f = OpenChildStorage(*root, L"gone", true);
    REQUIRE(f);
    REQUIRE(OpenChildStream(*f, L"inner", true));
    f.release();
    REQUIRE(DeleteChild(*root, L"GONE"));
    CHECK(testing::list_elements(root->Storage()) == before);
    CHECK_FALSE(DeleteChild(*root, L"gone"));
    CHECK(root->LastResult() == STG_E_FILENOTFOUND);
    // A new element of the same name starts with a fresh identity.
    auto again = OpenChildStorage(*root, L"gone", true);
    REQUIRE(again);
    CHECK(child_names(*again).empty());

    // A set that no element owns lends nothing to a new element of that name.
    auto sets = again->GetPropertySetStorage();
    WriteNamedProperty(sets.get(), ElementNameHash(L"ghost"), CommentProperty, variant(L"stale").v);
    WriteNamedProperty(sets.get(), ElementNameHash(L"ghost"), ElementIdProperty, variant(L"{stale}").v);
    auto ghost = OpenChildStream(*root, L"ghost", true);
    REQUIRE(ghost);
    CHECK(read_text(*ghost, CommentProperty) == L"<empty>");
    CHECK(is_guid_text(read_text(*ghost, ElementIdProperty)));
    CHECK(read_text(*ghost, ElementNameProperty) == L"ghost");
}

TEST_CASE("storage files: not a compound file, missing, or held elsewhere is a clear failure") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring text = dir.file(L"plain.txt");
    {
        HANDLE h = CreateFileW(text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        REQUIRE(h != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, "not a compound file at all, just some text that is long enough", 64, &written, nullptr);
        CloseHandle(h);
    }
    HRESULT hr = S_OK;
    CHECK_FALSE(OpenStorageFile(text, &hr));
    CHECK(FAILED(hr));
    CHECK(testing::read_file(text).size() == 64);

    std::wstring missing = dir.file(L"missing.orrisafe");
    CHECK_FALSE(OpenStorageFile(missing, &hr));
    CHECK(hr == STG_E_FILENOTFOUND);
    CHECK(GetFileAttributesW(missing.c_str()) == INVALID_FILE_ATTRIBUTES);

    std::wstring path = dir.file(L"held.orrisafe");
    auto root = new_store(path);
    CHECK_FALSE(OpenStorageFile(path, &hr));
    CHECK(hr == STG_E_SHAREVIOLATION);
    root.release();
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    CHECK_FALSE(OpenStorageFile(path, &hr));
    CHECK(FAILED(hr));
    CloseHandle(held);
    CHECK(OpenStorageFile(path, &hr));

    // Another process cannot open what this one holds.
    root = reopen(path);
    SetEnvironmentVariableW(L"ORRI_STORE_CHILD", path.c_str());
    std::string output;
    DWORD code = testing::run_process(L"\"" + beside_this_program(L"server_tests.exe") + L"\" -tc=\"storage file held by another process\"", &output);
    SetEnvironmentVariableW(L"ORRI_STORE_CHILD", nullptr);
    INFO(output);
    CHECK(code == 0);
    CHECK(output.find("assertions: 2 | 2 passed") != std::string::npos);
    root.release();

    // The wrapper form keeps the failure as its last HRESULT and holds nothing afterwards.
    CStorageWrapper wrapper(nullptr, {});
    CHECK_FALSE(OpenStorageFile(wrapper, text));
    CHECK(FAILED(wrapper.LastResult()));
    CHECK(wrapper.Storage() == nullptr);
}

TEST_CASE("root properties of every type survive closing and reopening; Wine reads the VT_BOOL") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"root.orrisafe");
    {
        auto root = new_store(path);
        VARIANT frozen;
        VariantInit(&frozen);
        frozen.vt = VT_BOOL;
        frozen.boolVal = VARIANT_TRUE;
        REQUIRE(root->WriteProperty(FrozenProperty, frozen));
        VARIANT flags;
        VariantInit(&flags);
        flags.vt = VT_UI8;
        flags.ullVal = StorageFlagKeyAttached;
        REQUIRE(root->WriteProperty(StorageFlagsProperty, flags));
        REQUIRE(root->WriteProperty(ElementIdProperty, variant(tools::guid_to_string(tools::new_guid())).v));
        REQUIRE(root->WriteProperty(KeyIdentifierProperty, variant(L"a2V5IGlk").v));
        REQUIRE(root->DeleteProperty(KeyIdentifierProperty));
    }
    {
        auto root = reopen(path);
        variant frozen, flags, key;
        REQUIRE(root->ReadProperty(FrozenProperty, &frozen.v));
        CHECK(frozen.v.vt == VT_BOOL);
        CHECK(frozen.v.boolVal == VARIANT_TRUE);
        REQUIRE(root->ReadProperty(StorageFlagsProperty, &flags.v));
        CHECK(flags.v.vt == VT_UI8);
        CHECK(flags.v.ullVal == 1);
        REQUIRE(root->ReadProperty(KeyIdentifierProperty, &key.v));
        CHECK(key.v.vt == VT_EMPTY);
        CHECK(is_guid_text(read_text(*root, ElementIdProperty)));
    }
    auto storage = testing::open_docfile(path);
    auto wine = testing::wine_sets(storage.get());
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(wine->Open(RootPropertySet, child_mode, set.put()) == S_OK);
    std::wstring name = tools::guid_to_string(FrozenProperty);
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_LPWSTR;
    spec.lpwstr = name.data();
    PROPVARIANT value;
    PropVariantInit(&value);
    REQUIRE(set->ReadMultiple(1, &spec, &value) == S_OK);
    CHECK(value.vt == VT_BOOL);
    CHECK(value.boolVal == VARIANT_TRUE);
}

TEST_CASE("a sample storage for the host-side reader") {
    testing::com_apartment com;
    std::wstring path = beside_this_program(L"store_sample.orrisafe");
    auto root = new_store(path);
    VARIANT frozen;
    VariantInit(&frozen);
    frozen.vt = VT_BOOL;
    frozen.boolVal = VARIANT_TRUE;
    REQUIRE(root->WriteProperty(FrozenProperty, frozen));
    VARIANT flags;
    VariantInit(&flags);
    flags.vt = VT_UI8;
    flags.ullVal = StorageFlagKeyAttached;
    REQUIRE(root->WriteProperty(StorageFlagsProperty, flags));
    REQUIRE(root->WriteProperty(ElementIdProperty, variant(tools::guid_to_string(tools::new_guid())).v));
    {
        auto report = OpenChildStream(*root, L"Report.txt", true);
        REQUIRE(report);
        write_data(report->Stream(), "hello from the element store\n");
        auto documents = OpenChildStorage(*root, L"Documents", true);
        REQUIRE(documents);
        auto inner = OpenChildStream(*documents, L"inner.txt", true);
        REQUIRE(inner);
        write_data(inner->Stream(), "inner data");
        auto old = OpenChildStream(*root, L"old name.txt", true);
        REQUIRE(old);
        write_data(old->Stream(), "renamed data");
        REQUIRE(old->WriteProperty(CommentProperty, variant(L"Y29tbWVudA").v));
    }
    REQUIRE(RenameChild(*root, L"old name.txt", L"New Name.txt"));
    CHECK(child_names(*root) == std::vector<std::wstring>{L"Documents", L"New Name.txt", L"Report.txt"});
}

TEST_CASE("a stand-in names exactly one stored name, and deletes that child with what it holds") {
    // Every stored name has one stand-in, and only stand-ins read back.
    for (std::wstring stored : {std::wstring(L"a b c d"), std::wstring(L"..\\x/y:z%"), std::wstring(L"\x00e9t\x00e9 \xd800"),
                                std::wstring(L"?"), std::wstring(1, L'\x7f')}) {
        std::wstring stand_in = StandInName(stored), back;
        CHECK(stand_in[0] == L'?');
        CHECK(stand_in.find_first_of(L"\\/:*\"<>|") == std::wstring::npos);
        CHECK(stand_in.find(L'?', 1) == std::wstring::npos);
        REQUIRE(StoredNameOfStandIn(stand_in, back));
        CHECK(back == stored);
    }
    std::wstring out;
    CHECK(StandInName(L"..\\x") == L"?..%005Cx");
    CHECK((StoredNameOfStandIn(L"?..%005cx", out) && out == L"..\\x"));
    for (const wchar_t* other : {L"", L"?", L"plain.txt", L"?%41", L"?%00", L"?%12G4", L"?a%12", L"?%0005abc", L"?a\\b",
                                 L"?%0041"})
        CHECK_FALSE(StoredNameOfStandIn(other, out));

    testing::com_apartment com;
    testing::scratch_dir dir;
    auto root = new_store(dir.file(L"stand-in.orrisafe"));
    auto folder = OpenChildStorage(*root, L"Damaged Folder", true);
    REQUIRE(folder);
    REQUIRE(OpenChildStream(*folder, L"inside.txt", true));
    folder.release();
    REQUIRE(OpenChildStream(*root, L"kept.txt", true));
    // The folder's set is given a name that is not its own.
    auto sets = [&] {
        tools::interface_holder<IPropertySetStorage> s;
        REQUIRE(platform::property_set_storage(root->Storage(), s.put()) == S_OK);
        return s;
    }();
    WriteNamedProperty(sets.get(), ElementNameHash(L"Damaged Folder"), ElementNameProperty, variant(L"kept.txt").v);
    std::wstring stand_in = StandInName(HashedElementName(std::wstring(L"Damaged Folder")));
    CHECK(child_names(*root) == (std::vector<std::wstring>{stand_in, L"kept.txt"}));
    CHECK_FALSE(DeleteChild(*root, L"?no such child"));
    REQUIRE(DeleteChild(*root, stand_in));
    CHECK(child_names(*root) == std::vector<std::wstring>{L"kept.txt"});
    // The folder, all it held and its set are gone; the sibling whose name it carried is whole.
    auto left = names_of(testing::list_elements(root->Storage()));
    CHECK(std::count(left.begin(), left.end(), HashedElementName(std::wstring(L"Damaged Folder"))) == 0);
    CHECK(std::count(left.begin(), left.end(), platform::property_set_stream_name(ElementNameHash(L"Damaged Folder"))) == 0);
    CHECK(std::count(left.begin(), left.end(), HashedElementName(std::wstring(L"kept.txt"))) == 1);
}

TEST_CASE("a storage the element store filled with thousands of names passes the structure check") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"many names.orrisafe");
    {
        auto root = new_store(path);
        auto folder = OpenChildStorage(*root, L"Folder", true);
        REQUIRE(folder);
        for (int i = 0; i < 2000; ++i) {
            wchar_t name[40];
            std::swprintf(name, 40, L"%ls %d.txt", i % 3 ? L"File" : L"\x00c9t\x00e9", i);
            REQUIRE(OpenChildStream(i % 5 ? *root : *folder, name, true));
            // Taking names out of a tree and renaming in it move its entries around.
            if (i % 4 == 3) REQUIRE(DeleteChild(i % 5 ? *root : *folder, name));
            else if (i % 9 == 1) REQUIRE(RenameChild(i % 5 ? *root : *folder, name, std::wstring(name) + L" (renamed)"));
        }
    }
    CHECK(platform::check_compound_file(path.c_str()) == S_OK);
}
