// Damaged storage files and hostile calls against the installed service: every call answers within two
// seconds, with an error or with the healthy part of the storage, while a second client is served.
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/tests/client_test_support.h>
#include <doctest.h>
#include <windows.h>
#include <comdef.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <element_store.h>
#include <platform/property_set_name.h>
#include <platform/property_set_storage.h>
#include <tools/com_initializer.h>
#include <tools/file_io.h>
#include <tools/named_property.h>
#include <tools/tests/compound_file_image.h>
#include <tools/tests/test_support.h>

#include "service_fixture.h"

using testing::compound_file_image;
using tools::bstr;

namespace {

constexpr DWORD answer_ms = 2000;
using names = std::vector<std::wstring>;

// The failure that calls raised, S_OK when none.
HRESULT outcome(const std::function<void()>& calls) {
    try {
        calls();
        return S_OK;
    } catch (const _com_error& e) {
        return e.Error();
    }
}

constexpr auto listing = client_testing::listed_names;

// What a client sees of a storage: the root's and "docs"' listings, after which every file listed there
// under a name of its own is read whole (digested); result is the first failure.
struct seen {
    HRESULT result = E_UNEXPECTED;
    names root, docs;
};

seen look_at(IStorageServer* server, const std::wstring& path) {
    seen out;
    out.result = outcome([&] {
        auto root = OpenStorageOrThrow(server, bstr(path));
        out.root = listing(root.get());
        auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_FALSE);
        out.docs = listing(docs.get());
        for (auto [folder, listed] : {std::pair{root.get(), &out.root}, std::pair{docs.get(), &out.docs}})
            for (const std::wstring& name : *listed)
                if (name != L"docs" && name != L"deep" && name[0] != L'?')
                    GetDigestOrThrow(OpenFileOrThrow(folder, bstr(name), VARIANT_FALSE).get());
    });
    return out;
}

// Runs a client's calls on a thread of its own (its own apartment and connection to the service) while a
// second client, on another, looks at the healthy storage; true when both were answered within answer_ms.
bool answered_while_another_is_served(const std::wstring& healthy, std::function<void(IStorageServer*)> calls) {
    auto as_client = [](std::function<void(IStorageServer*)> body) {
        return [body] {
            tools::com_initializer com;
            outcome([&] { body(ConnectServer().get()); });
        };
    };
    auto probe = std::make_shared<seen>();
    bool in_time = testing::all_end_within(
        answer_ms, {as_client(std::move(calls)), as_client([=](IStorageServer* s) { *probe = look_at(s, healthy); })});
    // A service that hangs would hold every later test: it goes.
    if (!in_time) service_testing::end_service_process();
    CHECK(probe->result == S_OK);
    CHECK(probe->root == (names{L"a.txt", L"big.bin", L"docs", L"other.txt", L"victim.txt"}));
    return in_time;
}

// The storage every case damages, made through the service: three levels of folders, files of 0 B to
// 200 KiB, number, boolean and string properties.
void make_sample(IStorageServer* server, const std::wstring& path) {
    STGOPTIONS options{1, 0, 4096};
    tools::interface_holder<IStorage> made;
    REQUIRE(StgCreateStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, STGFMT_DOCFILE, 0,
                               &options, nullptr, IID_IStorage, made.put_void()) == S_OK);
    made.reset();
    auto root = OpenStorageOrThrow(server, bstr(path));
    auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_TRUE);
    auto deep = OpenFolderOrThrow(docs.get(), bstr(L"deep"), VARIANT_TRUE);
    const std::tuple<IStorageFolder*, const wchar_t*, size_t> files[] = {
        {root.get(), L"a.txt", 100},        {root.get(), L"big.bin", 200 * 1024}, {root.get(), L"victim.txt", 1000},
        {root.get(), L"other.txt", 0},      {docs.get(), L"inner.txt", 5000},     {deep.get(), L"leaf.txt", 10}};
    std::string block(4096, 'x');
    for (auto [folder, name, size] : files) {
        auto file = OpenFileOrThrow(folder, bstr(name), VARIANT_TRUE);
        auto stream = GetStreamOrThrow(file.get());
        for (size_t done = 0; done < size; done += block.size())
            REQUIRE(stream->Write(block.data(), static_cast<ULONG>(std::min(block.size(), size - done)), nullptr) == S_OK);
        VARIANT value;
        value.vt = VT_I4;
        value.lVal = 42;
        SetPropertyOrThrow(file.get(), StorageFlagsProperty, value);
        value.vt = VT_BOOL;
        value.boolVal = VARIANT_TRUE;
        SetPropertyOrThrow(file.get(), FrozenProperty, value);
        SetPropertyOrThrow(file.get(), CommentProperty, _variant_t(L"a comment"));
    }
}

// Stores a name in an element's set as a damaged set would hold it (the file is closed).
void store_name(const std::wstring& path, const wchar_t* folder, const std::wstring& element, const std::wstring& name) {
    tools::interface_holder<IStorage> root, inner;
    REQUIRE(StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, root.put()) == S_OK);
    if (folder)
        REQUIRE(root->OpenStorage(HashedElementName(std::wstring(folder)).c_str(), nullptr,
                                  STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, inner.put()) == S_OK);
    tools::interface_holder<IPropertySetStorage> sets;
    REQUIRE(platform::property_set_storage(folder ? inner.get() : root.get(), sets.put()) == S_OK);
    WriteNamedProperty(sets.get(), ElementNameHash(element), ElementNameProperty, _variant_t(name.c_str()));
}

std::wstring stand_in(const std::wstring& name) { return StandInName(HashedElementName(name)); }

}  // namespace

TEST_CASE("damaged storages and hostile calls never stop the service for other clients") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::scratch_dir dir;
    testing::com_apartment com;
    auto server = ConnectServer();  // the service starts before anything is timed
    std::wstring sample = dir.file(L"sample.orrisafe"), healthy = dir.file(L"healthy.orrisafe");
    make_sample(server.get(), sample);
    REQUIRE(CopyFileW(sample.c_str(), healthy.c_str(), FALSE));
    const compound_file_image original(sample);
    int copies = 0;
    auto damaged_copy = [&](const std::function<void(compound_file_image&)>& damage) {
        compound_file_image image = original;
        damage(image);
        std::wstring path = dir.file(L"damaged-" + std::to_wstring(++copies) + L".orrisafe");
        image.save(path);
        return path;
    };

    // Structures the platform's reader loops on, and directories that mislead its searches, are refused at
    // OpenStorage and by Defragment.
    uint32_t a = original.find(HashedElementName(std::wstring(L"a.txt"))),
             docs = original.find(HashedElementName(std::wstring(L"docs"))),
             big = original.find(HashedElementName(std::wstring(L"big.bin"))),
             set = original.find(platform::property_set_stream_name(ElementNameHash(L"a.txt")));
    auto big_chain = original.chain(original.field(big, compound_file_image::start));
    const std::pair<const char*, std::function<void(compound_file_image&)>> loops[] = {
        {"a file's left sibling is itself", [&](auto& f) { f.set_field(a, f.left, a); }},
        {"a folder's right sibling is itself", [&](auto& f) { f.set_field(docs, f.right, docs); }},
        {"a property set's left sibling is itself", [&](auto& f) { f.set_field(set, f.left, set); }},
        {"the first directory sector lies in the mini FAT", [&](auto& f) { f.set_u32(f.first_directory, f.u32(f.first_mini_fat)); }},
        {"the 200 KiB file's chain is a cycle", [&](auto& f) { f.set_u32(f.fat_at(big_chain.back()), big_chain.front()); }},
        {"a file's size is 2^64-1", [&](auto& f) { f.set_u64(f.entry_at(big) + f.size, ~0ull); }},
        {"a NUL inside a folder's name", [&](auto& f) { f.set_name_char(docs, 3, 0); }},
        {"an unpaired surrogate in a file's name", [&](auto& f) { f.set_name_char(a, 2, 0xD800); }},
        {"a folder of type 3", [&](auto& f) { f.bytes[f.entry_at(docs) + f.type] = 3; }},
        {"two files that exchanged names", [&](auto& f) { f.swap_names(a, big); }},
    };
    for (const auto& [what, damage] : loops) {
        INFO(std::string(what));
        std::wstring path = damaged_copy(damage);
        auto bytes = compound_file_image(path).bytes;
        auto opened = std::make_shared<seen>();
        auto defragmented = std::make_shared<HRESULT>(S_OK);
        CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
            *opened = look_at(s, path);
            *defragmented = s->Defragment(bstr(path));
        }));
        CHECK(opened->result == E_POINTER);  // the server does not pass the compound file's own error on
        CHECK(*defragmented == STG_E_DOCFILECORRUPT);
        CHECK(compound_file_image(path).bytes == bytes);  // nothing was rewritten
    }

    // A damaged set, and names the rules refuse, hide no sibling: such children are listed as stand-ins,
    // which are names, never ways out of their folder, and delete what they stand for.
    uint32_t victim_set = original.find(platform::property_set_stream_name(ElementNameHash(L"victim.txt")));
    std::wstring path = damaged_copy([&](auto& f) { f.set_u64(f.entry_at(victim_set) + f.size, 20); });
    store_name(path, nullptr, L"other.txt", L"..");
    store_name(path, L"docs", L"inner.txt", L"deep\\leaf.txt");
    auto before = std::make_shared<seen>(), after = std::make_shared<seen>();
    auto deleted = std::make_shared<HRESULT>(E_UNEXPECTED);
    auto found_type = std::make_shared<long>(0);
    CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
        *before = look_at(s, path);
        *deleted = outcome([&] {
            auto root = OpenStorageOrThrow(s, bstr(path));
            auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_FALSE);
            *found_type = GetTypeOrThrow(FindElementInfoOrThrow(docs.get(), bstr(stand_in(L"inner.txt"))).get());
            for (auto [folder, name] : {std::pair{docs.get(), L"inner.txt"}, {root.get(), L"other.txt"}, {root.get(), L"victim.txt"}})
                DeleteElementOrThrow(folder, bstr(stand_in(name)));
        });
        *after = look_at(s, path);
    }));
    CHECK(before->result == S_OK);
    CHECK(before->root == (names{stand_in(L"other.txt"), stand_in(L"victim.txt"), L"a.txt", L"big.bin", L"docs"}));
    CHECK(before->docs == (names{stand_in(L"inner.txt"), L"deep"}));
    CHECK(*found_type == 2);
    CHECK(*deleted == S_OK);
    CHECK(after->result == S_OK);
    CHECK(after->root == (names{L"a.txt", L"big.bin", L"docs"}));
    CHECK(after->docs == names{L"deep"});

    // A write at 4 GiB + 10 is refused at once, and so is growing a file by a gigabyte in one call.
    std::wstring large = dir.file(L"large.orrisafe");  // of its own: the second client reads every file of the healthy one
    REQUIRE(CopyFileW(sample.c_str(), large.c_str(), FALSE));
    auto hostile = std::make_shared<std::vector<HRESULT>>();
    auto size = std::make_shared<UINT64>(0);
    CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
        auto file = OpenFileOrThrow(OpenStorageOrThrow(s, bstr(large)).get(), bstr(L"big.bin"), VARIANT_FALSE);
        auto stream = GetStreamOrThrow(file.get());
        for (LONGLONG at : {0x10000000All, 1ll << 30}) {
            LARGE_INTEGER to;
            to.QuadPart = at;
            hostile->push_back(stream->Seek(to, STREAM_SEEK_SET, nullptr));
        }
        hostile->push_back(stream->Write("sixteen bytes...", 16, nullptr));
        hostile->push_back(stream->SetSize(ULARGE_INTEGER{{10, 1}}));
        *size = GetSizeOrThrow(file.get());
    }));
    CHECK(*hostile == (std::vector<HRESULT>{STG_E_DOCFILETOOLARGE, S_OK, STG_E_INVALIDFUNCTION, STG_E_DOCFILETOOLARGE}));
    CHECK(*size == 200 * 1024);
}
