// Damaged storage files and hostile calls against the installed service: every call answers within two
// seconds, with an error or with the healthy part of the storage, while a second client is served.
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <orrisafe.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <element_store.h>
#include <platform/property_set_name.h>
#include <platform/property_set_storage.h>
#include <property_keys.h>
#include <tools/com_initializer.h>
#include <tools/file_io.h>
#include <tools/named_property.h>
#include <tools/tests/compound_file_image.h>
#include <tools/tests/test_support.h>

#include "service_fixture.h"

using namespace service_testing;
using testing::compound_file_image;
using tools::bstr;

namespace {

constexpr DWORD answer_ms = 2000;
constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// What a client saw of a storage: how it opened, what its root and its folder "docs" listed, and the first
// failure reading or digesting a file listed under its own name.
struct seen {
    HRESULT opened = E_UNEXPECTED;
    std::vector<std::wstring> root, docs;
    HRESULT read = S_OK;
};

std::vector<std::wstring> list(IStorageFolder* folder) {
    std::vector<std::wstring> names;
    server_ptr<IElementEnum> elements;
    if (FAILED(folder->EnumElements(elements.put()))) return {L"<listing failed>"};
    for (;;) {
        server_ptr<IElementInfo> info;
        if (elements->Next(info.put()) != S_OK || !info) break;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetName(&name))) names.push_back(bstr::attach(name).text());
    }
    std::sort(names.begin(), names.end());
    return names;
}

HRESULT read_whole(IStorageFolder* folder, const std::wstring& name) {
    server_ptr<IStorageFile> file;
    HRESULT hr = folder->OpenFile(bstr(name), VARIANT_FALSE, file.put());
    if (FAILED(hr)) return hr;
    StreamDigest digest{};
    hr = file->GetDigest(&digest);
    server_ptr<IStream> stream;
    if (SUCCEEDED(hr)) hr = file->GetStream(stream.put());
    LARGE_INTEGER start{};
    if (SUCCEEDED(hr)) hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    char buffer[4096];
    ULONG read = 1;
    while (SUCCEEDED(hr) && read) hr = stream->Read(buffer, sizeof buffer, &read);
    return hr;
}

// Everything a client does to look at a storage: open it, list the root and "docs", read every file there.
void look_at(IStorageServer* server, const std::wstring& path, seen& out) {
    server_ptr<IStorageFolder> root, docs;
    out.opened = server->OpenStorage(bstr(path), root.put());
    if (FAILED(out.opened)) return;
    out.root = list(root.get());
    if (SUCCEEDED(root->OpenFolder(bstr(L"docs"), VARIANT_FALSE, docs.put()))) out.docs = list(docs.get());
    for (auto [folder, names] : {std::pair{root.get(), &out.root}, std::pair{docs.get(), &out.docs}})
        for (const std::wstring& name : *names)
            if (folder && name != L"docs" && name[0] != L'?' && name != L"deep" && SUCCEEDED(out.read))
                out.read = read_whole(folder, name);
}

// Runs a client's calls on a thread of its own (its own apartment and connection to the service) while a
// second client, on another, looks at the healthy storage; true when both were answered within answer_ms.
bool answered_while_another_is_served(const std::wstring& healthy, std::function<void(IStorageServer*)> calls) {
    auto as_client = [](std::function<void(IStorageServer*)> body) {
        return [body] {
            tools::com_initializer com;
            try {
                auto server = ConnectServer();
                body(server.get());
            } catch (...) {
                // What the body saw is all it reports.
            }
        };
    };
    auto probe = std::make_shared<seen>();
    bool in_time = testing::all_end_within(
        answer_ms, {as_client(std::move(calls)), as_client([healthy, probe](IStorageServer* server) {
                        look_at(server, healthy, *probe);
                    })});
    // A service that hangs would hold every later test: it goes.
    if (!in_time) end_service_process();
    CHECK(probe->opened == S_OK);
    CHECK(probe->read == S_OK);
    CHECK(probe->root == (std::vector<std::wstring>{L"a.txt", L"big.bin", L"docs", L"other.txt", L"victim.txt"}));
    return in_time;
}

void write_file(IStorageFolder* folder, const std::wstring& name, size_t size) {
    auto stream = GetStreamOrThrow(OpenFileOrThrow(folder, bstr(name), VARIANT_TRUE).get());
    std::string block(4096, static_cast<char>('a' + size % 26));
    for (size_t done = 0; done < size; done += block.size()) {
        ULONG count = static_cast<ULONG>(std::min(block.size(), size - done)), written = 0;
        REQUIRE(stream->Write(block.data(), count, &written) == S_OK);
    }
}

// The storage every case damages, made through the service: three levels of folders, files of 0 B to
// 200 KiB, string, number and boolean properties.
void make_sample(IStorageServer* server, const std::wstring& path) {
    STGOPTIONS options{};
    options.usVersion = 1;
    options.ulSectorSize = 4096;
    {
        tools::interface_holder<IStorage> file;
        REQUIRE(StgCreateStorageEx(path.c_str(), child_mode | STGM_CREATE, STGFMT_DOCFILE, 0, &options, nullptr,
                                   IID_IStorage, file.put_void()) == S_OK);
    }
    auto root = OpenStorageOrThrow(server, bstr(path));
    auto docs = OpenFolderOrThrow(root.get(), bstr(L"docs"), VARIANT_TRUE);
    auto deep = OpenFolderOrThrow(docs.get(), bstr(L"deep"), VARIANT_TRUE);
    write_file(root.get(), L"a.txt", 100);
    write_file(root.get(), L"big.bin", 200 * 1024);
    write_file(root.get(), L"victim.txt", 1000);
    write_file(root.get(), L"other.txt", 0);
    write_file(docs.get(), L"inner.txt", 5000);
    write_file(deep.get(), L"leaf.txt", 10);
    auto a = OpenFileOrThrow(root.get(), bstr(L"a.txt"), VARIANT_FALSE);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 42;
    SetPropertyOrThrow(a.get(), StorageFlagsProperty, value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    SetPropertyOrThrow(a.get(), FrozenProperty, value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"a comment");
    SetPropertyOrThrow(a.get(), CommentProperty, value);
    VariantClear(&value);
    a.reset();
    deep.reset();
    docs.reset();
    root.reset();
    REQUIRE(CloseStorageOrThrow(server, bstr(path)) == S_FALSE);
}

// Stores a name in an element's set as a damaged set would hold it (the file is closed).
void store_name(const std::wstring& path, const std::vector<std::wstring>& folder, const std::wstring& element,
                const std::wstring& stored) {
    std::vector<tools::interface_holder<IStorage>> levels(1);
    REQUIRE(StgOpenStorageEx(path.c_str(), child_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage,
                             levels[0].put_void()) == S_OK);
    for (const std::wstring& part : folder) {
        levels.emplace_back();
        REQUIRE(levels[levels.size() - 2]->OpenStorage(HashedElementName(part).c_str(), nullptr, child_mode, nullptr,
                                                       0, levels.back().put()) == S_OK);
    }
    tools::interface_holder<IPropertySetStorage> sets;
    REQUIRE(platform::property_set_storage(levels.back().get(), sets.put()) == S_OK);
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocStringLen(stored.data(), static_cast<UINT>(stored.size()));
    WriteNamedProperty(sets.get(), ElementNameHash(element), ElementNameProperty, name);
    VariantClear(&name);
    while (!levels.empty()) levels.pop_back();
}

std::wstring stand_in(const std::wstring& display_name) { return StandInName(HashedElementName(display_name)); }

}  // namespace

TEST_CASE("damaged storages and hostile calls never stop the service for other clients") {
    installed_server installed;
    REQUIRE(installed.ready());
    testing::scratch_dir dir;
    testing::com_apartment com;
    auto server = ConnectServer();  // starts the service before anything is timed
    std::wstring sample = dir.file(L"sample.orrisafe"), healthy = dir.file(L"healthy.orrisafe");
    make_sample(server.get(), sample);
    REQUIRE(CopyFileW(sample.c_str(), healthy.c_str(), FALSE));
    const compound_file_image original(sample);
    auto entry = [&](const std::wstring& display_name) { return original.find(HashedElementName(display_name)); };
    int made = 0;
    auto damaged_copy = [&](const std::function<void(compound_file_image&)>& damage) {
        compound_file_image image = original;
        damage(image);
        std::wstring path = dir.file(L"damaged-" + std::to_wstring(++made) + L".orrisafe");
        image.save(path);
        return path;
    };

    // Structures the platform's reader would loop on are refused at OpenStorage and by Defragment.
    {
        uint32_t a = entry(L"a.txt"), docs = entry(L"docs"), big = entry(L"big.bin");
        uint32_t set = original.find(platform::property_set_stream_name(ElementNameHash(L"a.txt")));
        auto big_chain = original.chain(original.field(big, compound_file_image::start));
        const std::pair<const char*, std::function<void(compound_file_image&)>> cases[] = {
            {"a file's left sibling is itself", [&](auto& f) { f.set_field(a, f.left, a); }},
            {"a folder's right sibling is itself", [&](auto& f) { f.set_field(docs, f.right, docs); }},
            {"a property set's left sibling is itself", [&](auto& f) { f.set_field(set, f.left, set); }},
            {"the first directory sector lies in the mini FAT",
             [&](auto& f) { f.set_u32(f.first_directory, f.u32(f.first_mini_fat)); }},
            {"the 200 KiB file's chain is a cycle",
             [&](auto& f) { f.set_u32(f.fat_at(big_chain.back()), big_chain.front()); }},
            {"a file's size is 2^64-1", [&](auto& f) { f.set_u64(f.entry_at(big) + f.size, ~0ull); }},
            {"the file is cut short", [&](auto& f) { f.bytes.resize(f.bytes.size() - 40000); }},
        };
        for (const auto& [what, damage] : cases) {
            INFO(std::string(what));
            std::wstring path = damaged_copy(damage);
            auto bytes = original.bytes;
            tools::read_file(path, bytes);
            auto opened = std::make_shared<HRESULT>(S_OK), defragmented = std::make_shared<HRESULT>(S_OK);
            CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
                seen damaged;
                look_at(s, path, damaged);
                *opened = damaged.opened;
                *defragmented = s->Defragment(bstr(path));
            }));
            CHECK(*opened == E_POINTER);  // the server does not pass the compound file's own error on
            CHECK(*defragmented == STG_E_DOCFILECORRUPT);
            auto after = bytes;
            tools::read_file(path, after);
            CHECK(after == bytes);
        }
    }

    // A damaged property set hides none of its siblings, and its element can still be deleted.
    {
        uint32_t set = original.find(platform::property_set_stream_name(ElementNameHash(L"victim.txt")));
        std::wstring path = damaged_copy([&](auto& f) { f.set_u64(f.entry_at(set) + f.size, 20); });
        auto damaged = std::make_shared<seen>();
        auto deleted = std::make_shared<HRESULT>(E_UNEXPECTED);
        auto after = std::make_shared<std::vector<std::wstring>>();
        CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
            look_at(s, path, *damaged);
            server_ptr<IStorageFolder> root;
            if (FAILED(s->OpenStorage(bstr(path), root.put()))) return;
            *deleted = root->DeleteElement(bstr(stand_in(L"victim.txt")));
            *after = list(root.get());
        }));
        CHECK(damaged->opened == S_OK);
        CHECK(damaged->root == (std::vector<std::wstring>{stand_in(L"victim.txt"), L"a.txt", L"big.bin", L"docs", L"other.txt"}));
        CHECK(damaged->docs == (std::vector<std::wstring>{L"deep", L"inner.txt"}));
        CHECK(damaged->read == S_OK);
        CHECK(*deleted == S_OK);
        CHECK(*after == (std::vector<std::wstring>{L"a.txt", L"big.bin", L"docs", L"other.txt"}));
    }

    // Stored names the rules refuse are listed as stand-ins: names, never ways out of their folder.
    {
        std::wstring path = dir.file(L"names.orrisafe");
        REQUIRE(CopyFileW(sample.c_str(), path.c_str(), FALSE));
        store_name(path, {}, L"other.txt", L"..");
        store_name(path, {L"docs"}, L"inner.txt", L"deep\\leaf.txt");
        store_name(path, {}, L"victim.txt", L"a.txt");  // a healthy sibling's name: not its own
        auto damaged = std::make_shared<seen>();
        auto found = std::make_shared<long>(0);
        auto deleted = std::make_shared<std::vector<HRESULT>>();
        auto after = std::make_shared<seen>();
        CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
            look_at(s, path, *damaged);
            server_ptr<IStorageFolder> root, docs;
            if (FAILED(s->OpenStorage(bstr(path), root.put()))) return;
            if (FAILED(root->OpenFolder(bstr(L"docs"), VARIANT_FALSE, docs.put()))) return;
            server_ptr<IElementInfo> info;
            if (SUCCEEDED(docs->FindElementInfo(bstr(stand_in(L"inner.txt")), info.put()))) info->GetType(found.get());
            info.reset();  // an element's record keeps its storage file open
            deleted->push_back(docs->DeleteElement(bstr(stand_in(L"inner.txt"))));
            deleted->push_back(root->DeleteElement(bstr(stand_in(L"other.txt"))));
            deleted->push_back(root->DeleteElement(bstr(stand_in(L"victim.txt"))));
            docs.reset();
            root.reset();
            look_at(s, path, *after);
        }));
        CHECK(damaged->root == (std::vector<std::wstring>{stand_in(L"other.txt"), stand_in(L"victim.txt"), L"a.txt",
                                                          L"big.bin", L"docs"}));
        CHECK(damaged->docs == (std::vector<std::wstring>{stand_in(L"inner.txt"), L"deep"}));
        CHECK(*found == 2);
        CHECK(*deleted == (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
        // Only the stand-ins went: the folder they seemed to lead into and the sibling they named are whole.
        CHECK(after->root == (std::vector<std::wstring>{L"a.txt", L"big.bin", L"docs"}));
        CHECK(after->docs == std::vector<std::wstring>{L"deep"});
        CHECK(after->read == S_OK);
    }

    // A write at 4 GiB is refused at once and the service goes on answering.
    {
        // A storage of its own: the second client reads every file of the healthy one.
        std::wstring large = dir.file(L"large.orrisafe");
        REQUIRE(CopyFileW(sample.c_str(), large.c_str(), FALSE));
        auto results = std::make_shared<std::vector<HRESULT>>();
        auto size = std::make_shared<UINT64>(0);
        CHECK(answered_while_another_is_served(healthy, [=](IStorageServer* s) {
            server_ptr<IStorageFolder> root;
            server_ptr<IStorageFile> file;
            server_ptr<IStream> stream;
            if (FAILED(s->OpenStorage(bstr(large), root.put())) ||
                FAILED(root->OpenFile(bstr(L"big.bin"), VARIANT_FALSE, file.put())) || FAILED(file->GetStream(stream.put())))
                return;
            LARGE_INTEGER far_away;
            far_away.QuadPart = 0x10000000Aull;
            results->push_back(stream->Seek(far_away, STREAM_SEEK_SET, nullptr));
            far_away.QuadPart = 1ll << 30;
            results->push_back(stream->Seek(far_away, STREAM_SEEK_SET, nullptr));
            ULONG written = 0;
            results->push_back(stream->Write("sixteen bytes...", 16, &written));
            ULARGE_INTEGER huge;
            huge.QuadPart = 0x10000000Aull;
            results->push_back(stream->SetSize(huge));
            file->GetSize(size.get());
        }));
        CHECK(*results == (std::vector<HRESULT>{STG_E_DOCFILETOOLARGE, S_OK, STG_E_INVALIDFUNCTION, STG_E_DOCFILETOOLARGE}));
        CHECK(*size == 200 * 1024);
    }
    server.reset();
}
