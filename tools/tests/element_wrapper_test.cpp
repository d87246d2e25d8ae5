#include <doctest.h>
#include "compound_file.h"
#include "test_support.h"

#include <platform/property_set_name.h>
#include <tools/com_error.h>
#include <tools/element_name.h>
#include <tools/element_wrapper.h>
#include <tools/named_property.h>
#include <tools/text.h>

#include <cstring>
#include <stdexcept>

namespace {

constexpr DWORD set_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
const GUID some_key = {0xF64FAA41, 0x9EC6, 0x4361, {0x88, 0x94, 0x7F, 0x29, 0x52, 0x25, 0x64, 0x82}};

struct variant {
    VARIANT v;
    variant() { VariantInit(&v); }
    explicit variant(const wchar_t* text) {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    ~variant() { VariantClear(&v); }
    std::wstring text() const { return v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"<not a string>"; }
};

// What Wine's own reader finds under one key's name in one set of a storage.
std::wstring wine_read_text(IStorage* storage, const GUID& fmtid, const GUID& key) {
    auto sets = testing::wine_sets(storage);
    tools::interface_holder<IPropertyStorage> set;
    REQUIRE(sets->Open(fmtid, set_mode, set.put()) == S_OK);
    std::wstring name = tools::guid_to_string(key);
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_LPWSTR;
    spec.lpwstr = name.data();
    PROPVARIANT value;
    PropVariantInit(&value);
    REQUIRE(set->ReadMultiple(1, &spec, &value) == S_OK);
    REQUIRE(value.vt == VT_BSTR);
    std::wstring text = testing::bstr_text(value);
    if (!text.empty() && text.back() == L'\0') text.pop_back();  // Wine's reader keeps the terminator
    PropVariantClear(&value);
    return text;
}

GUID bytes_guid(std::initializer_list<unsigned char> bytes) {
    GUID g;
    std::memcpy(&g, bytes.begin(), sizeof g);
    return g;
}

}  // namespace

TEST_CASE("ParseElementName reads four radix-32 words, little-endian") {
    CHECK(IsEqualGUID(ParseElementName(L"1 2 3 4"), bytes_guid({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0})));
    // Either case, any white space, trailing junk after the digits and words beyond the fourth are ignored.
    CHECK(IsEqualGUID(ParseElementName(L"  V\t10  3vvvvvv 0xz 99"), bytes_guid({31, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})));
    CHECK_THROWS_AS(ParseElementName(L"1 2 3"), std::out_of_range);
    CHECK_THROWS_AS(ParseElementName(L""), std::out_of_range);
    try {
        ParseElementName(L"1 2 3 vvvvvvvv");
        FAIL("no overflow");
    } catch (const _com_error& e) {
        CHECK(e.Error() == E_FAIL);
    }
    try {
        ParseElementName(L"4000000 0 0 0");  // 2^32
        FAIL("no overflow");
    } catch (const _com_error& e) {
        CHECK(e.Error() == E_FAIL);
    }
}

TEST_CASE("a root's properties live in its own set under GUID_NULL; a child's beside it under its parsed name") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"wrappers.stg");
    {
        auto storage = testing::create_docfile(path);
        tools::interface_holder<IStream> child;
        REQUIRE(storage->CreateStream(L"1 2 3 4", set_mode, 0, 0, child.put()) == S_OK);
        tools::interface_holder<IStorage> folder;
        REQUIRE(storage->CreateStorage(L"a b c d", set_mode, 0, 0, folder.put()) == S_OK);

        auto root = CStorageWrapper::Make(storage.get(), {});
        CHECK(root->IsRoot());
        CHECK(IsEqualGUID(root->GetFmtid(), GUID_NULL));
        REQUIRE(root->WriteProperty(some_key, variant(L"root value").v));

        CStreamWrapper stream(child.get(), L"1 2 3 4", root);
        CHECK(IsEqualGUID(stream.GetFmtid(), bytes_guid({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0})));
        REQUIRE(stream.WriteProperty(some_key, variant(L"first").v));
        REQUIRE(stream.WriteProperty(some_key, variant(L"stream value").v));  // the second write replaces

        auto sub = CStorageWrapper::Make(folder.get(), root);
        CHECK_FALSE(sub->IsRoot());
        CHECK(sub->GetParent().get() == root.get());
        REQUIRE(sub->WriteProperty(some_key, variant(L"folder value").v));
        // Its set is beside it in the root, not inside it.
        CHECK(testing::list_elements(folder.get()).empty());

        variant read;
        REQUIRE(sub->ReadProperty(some_key, &read.v));
        CHECK(read.text() == L"folder value");
        variant missing;
        REQUIRE(sub->ReadElementId(&missing.v));
        CHECK(missing.v.vt == VT_EMPTY);
    }
    auto storage = testing::open_docfile(path);
    auto names = testing::list_elements(storage.get());
    auto has = [&](const std::wstring& name) {
        for (auto& [n, type] : names)
            if (n == name) return true;
        return false;
    };
    CHECK(has(platform::property_set_stream_name(GUID_NULL)));
    CHECK(has(platform::property_set_stream_name(ParseElementName(L"1 2 3 4"))));
    CHECK(has(platform::property_set_stream_name(ParseElementName(L"a b c d"))));
    CHECK(wine_read_text(storage.get(), GUID_NULL, some_key) == L"root value");
    CHECK(wine_read_text(storage.get(), ParseElementName(L"1 2 3 4"), some_key) == L"stream value");
    CHECK(wine_read_text(storage.get(), ParseElementName(L"a b c d"), some_key) == L"folder value");
}

TEST_CASE("element operations report failures in the last HRESULT instead of throwing") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"fail.stg"));
    tools::interface_holder<IStream> child;
    REQUIRE(storage->CreateStream(L"1 2 3", set_mode, 0, 0, child.put()) == S_OK);
    auto root = CStorageWrapper::Make(storage.get(), {});
    CStreamWrapper stream(child.get(), L"1 2 3", root);
    CHECK_FALSE(stream.WriteProperty(some_key, variant(L"x").v));
    CHECK(stream.LastResult() == E_UNEXPECTED);
    variant out;
    CHECK_FALSE(stream.ReadProperty(some_key, &out.v));
    CHECK(stream.LastResult() == E_UNEXPECTED);
    CHECK(testing::list_elements(storage.get()).size() == 1);  // no set was made for it

    CStorageWrapper empty(nullptr, {});
    CHECK_FALSE(empty.WriteProperty(some_key, variant(L"x").v));
    CHECK(empty.LastResult() == E_POINTER);
    CHECK_FALSE(empty.CommitStorage());
    CHECK(empty.LastResult() == E_POINTER);

    // A damaged set makes reads and writes fail with the format's error, and nothing is overwritten.
    {
        tools::interface_holder<IStream> bad;
        REQUIRE(storage->CreateStream(platform::property_set_stream_name(GUID_NULL).c_str(), set_mode, 0, 0, bad.put()) == S_OK);
        ULONG written = 0;
        REQUIRE(bad->Write("garbage", 7, &written) == S_OK);
    }
    CHECK_FALSE(root->ReadProperty(some_key, &out.v));
    CHECK(root->LastResult() == STG_E_INVALIDHEADER);
    CHECK_FALSE(root->WriteProperty(some_key, variant(L"x").v));
    CHECK(root->LastResult() == STG_E_INVALIDHEADER);
}

TEST_CASE("a child holds its parent: the root stays open while a child is alive") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"hold.stg"));
    tools::interface_holder<IStorage> folder;
    REQUIRE(storage->CreateStorage(L"1 2 3 4", set_mode, 0, 0, folder.put()) == S_OK);
    auto root = CStorageWrapper::Make(storage.get(), {});
    storage.reset();
    auto sub = CStorageWrapper::Make(folder.get(), root);
    folder.reset();
    CHECK(root.use_count() == 2);
    root.release();
    REQUIRE(sub->WriteProperty(some_key, variant(L"kept").v));
    variant read;
    REQUIRE(sub->ReadProperty(some_key, &read.v));
    CHECK(read.text() == L"kept");
    CHECK(sub->Self().get() == sub.get());
}

TEST_CASE("named properties: OpenPropertySet creates or opens, and a missing property reads as VT_EMPTY") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    auto storage = testing::create_docfile(dir.file(L"named.stg"));
    CHECK_THROWS_AS(OpenPropertySet(nullptr, GUID_NULL), _com_error);
    auto root = CStorageWrapper::Make(storage.get(), {});
    auto sets = root->GetPropertySetStorage();
    variant out;
    ReadNamedProperty(sets.get(), some_key, some_key, &out.v);
    CHECK(out.v.vt == VT_EMPTY);
    VARIANT flag;
    VariantInit(&flag);
    flag.vt = VT_BOOL;
    flag.boolVal = VARIANT_TRUE;
    WriteNamedProperty(sets.get(), some_key, some_key, flag);
    variant back;
    ReadNamedProperty(sets.get(), some_key, some_key, &back.v);
    CHECK(back.v.vt == VT_BOOL);
    CHECK(back.v.boolVal == VARIANT_TRUE);
    CHECK(DeleteNamedProperty(sets.get(), some_key, some_key) == S_OK);
    variant gone;
    ReadNamedProperty(sets.get(), some_key, some_key, &gone.v);
    CHECK(gone.v.vt == VT_EMPTY);
}
