#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <platform/compound_file_check.h>
#include <platform/rename_element.h>
#include <tools/text.h>

#include "compound_file.h"
#include "compound_file_image.h"
#include "test_support.h"

namespace {

using testing::compound_file_image;
constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr uint32_t end_of_chain = 0xFFFFFFFE;

void write_stream(IStorage* storage, const wchar_t* name, size_t size) {
    tools::interface_holder<IStream> stream;
    REQUIRE(storage->CreateStream(name, child_mode, 0, 0, stream.put()) == S_OK);
    std::string data(size, 'd');
    ULONG written = 0;
    if (size) REQUIRE(stream->Write(data.data(), static_cast<ULONG>(size), &written) == S_OK);
}

// A storage as the platform writes it: small and large streams at three levels, elements created and
// destroyed again, and (large_table) enough sectors that the FAT needs DIFAT sectors.
void make_sample(const std::wstring& path, ULONG sector_size, bool large_table = false) {
    STGOPTIONS options{};
    options.usVersion = 1;
    options.ulSectorSize = sector_size;
    tools::interface_holder<IStorage> root;
    REQUIRE(StgCreateStorageEx(path.c_str(), child_mode | STGM_CREATE, STGFMT_DOCFILE, 0, &options, nullptr,
                               IID_IStorage, root.put_void()) == S_OK);
    std::vector<tools::interface_holder<IStorage>> levels;
    IStorage* current = root.get();
    for (int level = 0; level < 3; ++level) {
        write_stream(current, L"small", 100 + level);
        write_stream(current, L"large", 200 * 1024);
        write_stream(current, L"empty", 0);
        write_stream(current, L"gone", 5000);
        REQUIRE(current->DestroyElement(L"gone") == S_OK);
        levels.emplace_back();
        REQUIRE(current->CreateStorage(L"sub", child_mode, 0, 0, levels.back().put()) == S_OK);
        current = levels.back().get();
    }
    if (large_table) write_stream(root.get(), L"table", 8 << 20);
}

// Opens the file with the platform and reads everything in it: what a file that passed the check must allow.
void walk_with_platform(const std::wstring& path) {
    testing::com_apartment com;
    std::function<void(IStorage*)> walk = [&](IStorage* storage) {
        tools::interface_holder<IEnumSTATSTG> elements;
        if (FAILED(storage->EnumElements(0, nullptr, 0, elements.put()))) return;
        STATSTG stat{};
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            std::wstring name = stat.pwcsName;
            CoTaskMemFree(stat.pwcsName);
            tools::interface_holder<IStorage> folder;
            tools::interface_holder<IStream> file;
            char buffer[4096];
            ULONG read = 0;
            if (SUCCEEDED(storage->OpenStorage(name.c_str(), nullptr, child_mode, nullptr, 0, folder.put()))) walk(folder.get());
            if (SUCCEEDED(storage->OpenStream(name.c_str(), nullptr, child_mode, 0, file.put())))
                while (SUCCEEDED(file->Read(buffer, sizeof buffer, &read)) && read) {
                }
        }
    };
    tools::interface_holder<IStorage> root;
    if (SUCCEEDED(StgOpenStorageEx(path.c_str(), child_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage, root.put_void())))
        walk(root.get());
}

// A sample file of 4096-byte sectors as the platform writes it, and the place where damaged copies go.
struct damage_bench {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"damaged");
    compound_file_image healthy = [this] {
        std::wstring sample = dir.file(L"sample");
        make_sample(sample, 4096);
        return compound_file_image(sample);
    }();
};

}  // namespace

TEST_CASE("the structure check passes what the platform writes and refuses what is no compound file") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    for (ULONG sector_size : {512u, 4096u}) {
        std::wstring path = dir.file(L"sample" + std::to_wstring(sector_size));
        make_sample(path, sector_size, sector_size == 512);
        CHECK(platform::check_compound_file(path.c_str()) == S_OK);
    }
    std::wstring text = dir.file(L"text.txt");
    tools::write_file(text, tools::byte_buffer(2000, 'x'));
    CHECK(platform::check_compound_file(text.c_str()) == STG_E_FILEALREADYEXISTS);
    tools::write_file(text, tools::byte_buffer(100, 0));
    CHECK(platform::check_compound_file(text.c_str()) == STG_E_FILEALREADYEXISTS);
    CHECK(platform::check_compound_file(dir.file(L"missing").c_str()) == STG_E_FILENOTFOUND);
    // A pipe whose writer never writes: refused at once instead of read.
    HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\orri-check", PIPE_ACCESS_OUTBOUND, 0, 1, 0, 0, 0, nullptr);
    REQUIRE(pipe != INVALID_HANDLE_VALUE);
    CHECK(platform::check_compound_file(L"\\\\.\\pipe\\orri-check") == STG_E_FILEALREADYEXISTS);
    CloseHandle(pipe);
}

TEST_CASE("the structure check refuses every kind of damaged structure the platform would loop on") {
    damage_bench bench;
    const compound_file_image& healthy = bench.healthy;
    const std::wstring& path = bench.path;
    uint32_t large = healthy.find(L"large"), small = healthy.find(L"small"), sub = healthy.find(L"sub");
    auto large_chain = healthy.chain(healthy.field(large, compound_file_image::start));
    REQUIRE(large_chain.size() == 50);

    auto refused = [&](const char* what, const std::function<void(compound_file_image&)>& damage) {
        compound_file_image image = healthy;
        damage(image);
        image.save(path);
        INFO(what);
        CHECK(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
    };
    refused("sibling pointing at itself (stream)", [&](auto& f) { f.set_field(large, f.left, large); });
    refused("child pointing at the root", [&](auto& f) { f.set_field(sub, f.child, 0); });
    refused("sibling out of range", [&](auto& f) { f.set_field(small, f.left, 0x12345); });
    refused("entry reached from two places", [&](auto& f) { f.set_field(sub, f.child, large); });
    refused("first directory sector in the mini FAT",
            [&](auto& f) { f.set_u32(f.first_directory, f.u32(f.first_mini_fat)); });
    refused("FAT cycle in a stream", [&](auto& f) { f.set_u32(f.fat_at(large_chain.back()), large_chain.front()); });
    refused("chain ending early", [&](auto& f) { f.set_u32(f.fat_at(large_chain[10]), end_of_chain); });
    refused("two streams sharing sectors", [&](auto& f) {
        f.set_field(small, f.start, f.field(large, f.start));
        f.set_u64(f.entry_at(small) + f.size, 8192);
    });
    refused("stream size 2^64-1", [&](auto& f) { f.set_u64(f.entry_at(large) + f.size, ~uint64_t(0)); });
    refused("mini chain with a cycle", [&](auto& f) {
        uint32_t mini = f.field(small, f.start);
        f.set_u32(f.sector_at(f.u32(f.first_mini_fat)) + 4 * mini, mini);
    });
    refused("FAT count beyond the file", [&](auto& f) { f.set_u32(f.fat_count, 0x7FFFFFFF); });
    refused("DIFAT count the FAT does not need", [&](auto& f) { f.set_u32(f.difat_count, 1000); });
    refused("header DIFAT entry beyond the FAT count", [&](auto& f) { f.set_u32(0x4C + 4 * 50, 3); });
    refused("FAT sector not marked as one", [&](auto& f) { f.set_u32(f.fat_at(f.u32(0x4C)), 0xFFFFFFFF); });
    refused("sector size the platform does not know", [&](auto& f) { f.bytes[0x1E] = 10; });
    refused("truncated", [&](auto& f) { f.bytes.resize(f.bytes.size() / 2); });
}

TEST_CASE("the structure check refuses names and sibling trees in which the platform's searches go astray") {
    damage_bench bench;
    const compound_file_image& healthy = bench.healthy;
    uint32_t large = healthy.find(L"large"), small = healthy.find(L"small"), sub = healthy.find(L"sub");
    auto judged = [&](const std::function<void(compound_file_image&)>& change) {
        compound_file_image image = healthy;
        change(image);
        image.save(bench.path);
        return platform::check_compound_file(bench.path.c_str());
    };
    // Each damage leaves every name where it was in its tree, so that only the one rule at stake can see it.
    const std::pair<const char*, std::function<void(compound_file_image&)>> damages[] = {
        {"a NUL inside a storage's name (its length says one more character)",
         [&](auto& f) { f.bytes[f.entry_at(sub) + f.name_length] += 2; }},
        {"a high surrogate without its low one", [&](auto& f) { f.set_name_char(small, 3, 0xD800); }},
        {"a low surrogate alone", [&](auto& f) { f.set_name_char(small, 4, 0xDC00); }},
        {"a stream of type 3", [&](auto& f) { f.bytes[f.entry_at(large) + f.type] = 3; }},
        {"a storage of type 3", [&](auto& f) { f.bytes[f.entry_at(sub) + f.type] = 3; }},
        {"an entry of type 4", [&](auto& f) { f.bytes[f.entry_at(small) + f.type] = 4; }},
        {"two siblings that exchanged names", [&](auto& f) { f.swap_names(small, large); }},
        {"a sibling named as another in other letters", [&](auto& f) {
             for (unsigned i = 0; i < 5; ++i) f.set_name_char(large, i, L"SMALL"[i]);
         }},
    };
    for (const auto& [what, damage] : damages) {
        INFO(what);
        CHECK(judged(damage) == STG_E_DOCFILECORRUPT);
    }
    // A surrogate pair is a character like any other.
    CHECK(judged([&](auto& f) { f.set_name_char(small, 3, 0xD83D), f.set_name_char(small, 4, 0xDE00); }) == S_OK);
}

TEST_CASE("held to Windows' reader, an order that a character outside ASCII decides passes; ASCII's does not") {
    damage_bench bench;
    struct windows_order {
        windows_order() { platform::judge_sibling_order_for(platform::sibling_order_reader::windows); }
        ~windows_order() { platform::judge_sibling_order_for(platform::sibling_order_reader::running); }
    } judged_as_windows;
    // U+00FF upper-cases to U+0178 in plain Unicode, past U+0100: Wine orders the two the other way round.
    std::wstring path = bench.dir.file(L"beyond ascii");
    {
        auto root = testing::create_docfile(path);
        write_stream(root.get(), L"\u00ff", 1);
        write_stream(root.get(), L"\u0100", 1);
        write_stream(root.get(), L"x", 1);
    }
    CHECK(platform::check_compound_file(path.c_str()) == S_OK);
    compound_file_image image = bench.healthy;
    image.swap_names(image.find(L"small"), image.find(L"large"));
    image.save(bench.path);
    CHECK(platform::check_compound_file(bench.path.c_str()) == STG_E_DOCFILECORRUPT);
}

// Names the platform takes into its trees: 1 to 31 characters from letters of both cases within and beyond
// ASCII (among them pairs that only an upper-casing of all letters would make one), digits, blanks, 0x05 and
// surrogate pairs.
std::wstring random_name(std::mt19937& random) {
    static const std::wstring alphabet = L"aAbBzZ09 \x05_.~\u00e4\u00c4\u00ff\u0100\u0101\u00e9\u00c9\u03b1\u0391\u0434\u0414";
    std::wstring name;
    for (size_t length = random() % 4 == 0 ? 1 + random() % 31 : 2 + random() % 5; name.size() < length;) {
        if (random() % 16 == 0 && name.size() + 2 <= length) {
            name += L"\xD83D\xDE00";
            continue;
        }
        name += alphabet[random() % alphabet.size()];
    }
    return name;
}

TEST_CASE("the structure check passes every sibling tree the platform builds, with thousands of names") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"names");
    std::mt19937 random(25);
    {
        auto root = testing::create_docfile(path);
        tools::interface_holder<IStorage> folder;
        REQUIRE(root->CreateStorage(L"folder", child_mode, 0, 0, folder.put()) == S_OK);
        std::vector<std::wstring> made;
        for (int i = 0; i < 3000; ++i) {
            std::wstring name = random_name(random);
            IStorage* in = i % 5 == 0 ? folder.get() : root.get();
            tools::interface_holder<IStream> stream;
            // A name equal to one made before, in the platform's order, is refused: the tree stays as it is.
            if (in->CreateStream(name.c_str(), child_mode, 0, 0, stream.put()) == S_OK && in == root.get())
                made.push_back(name);
        }
        REQUIRE(made.size() > 2000);
        // Taking names out of a tree and renaming within it move its entries around.
        for (size_t i = 0; i < made.size(); i += 3) REQUIRE(root->DestroyElement(made[i].c_str()) == S_OK);
        for (size_t i = 1; i < made.size(); i += 7)
            platform::rename_element(root.get(), made[i].c_str(), (made[i] + L"~").substr(0, 31).c_str());
    }
    CHECK(platform::check_compound_file(path.c_str()) == S_OK);
    walk_with_platform(path);
}

TEST_CASE("the structure check refuses storages nested deeper than the platform walks safely") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"deep");
    // A storage closes what was opened in it: every level stays held.
    std::vector<tools::interface_holder<IStorage>> levels;
    levels.push_back(testing::create_docfile(path));
    while (levels.size() <= platform::max_compound_file_depth + 1) {
        levels.emplace_back();
        REQUIRE(levels[levels.size() - 2]->CreateStorage(L"d", child_mode, 0, 0, levels.back().put()) == S_OK);
    }
    CHECK(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
    levels.pop_back();
    REQUIRE(levels.back()->DestroyElement(L"d") == S_OK);  // now exactly as deep as allowed
    CHECK(platform::check_compound_file(path.c_str()) == S_OK);
}

TEST_CASE("random damage to the tables: the check answers at once, and the platform walks what it passes") {
    damage_bench bench;
    const compound_file_image& healthy = bench.healthy;
    const std::wstring& path = bench.path;
    // The places whose damage matters: the header, the FAT, the directory and the mini FAT.
    std::vector<size_t> table_bytes;
    for (size_t at = 0; at < 512; ++at) table_bytes.push_back(at);
    std::vector<uint32_t> tables = healthy.chain(healthy.u32(compound_file_image::first_directory));
    for (uint32_t s : healthy.chain(healthy.u32(compound_file_image::first_mini_fat))) tables.push_back(s);
    tables.push_back(healthy.u32(0x4C));
    for (uint32_t s : tables)
        for (size_t at = 0; at < healthy.sector_size(); ++at) table_bytes.push_back(healthy.sector_at(s) + at);

    std::mt19937 random(20);
    int passed = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        compound_file_image image = healthy;
        int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            size_t at = table_bytes[random() % table_bytes.size()];
            image.bytes[at] = random() % 3 == 0 ? static_cast<unsigned char>(random()) : image.bytes[at] ^ (1 << (random() % 8));
        }
        image.save(path);
        DWORD started = GetTickCount();
        HRESULT verdict = platform::check_compound_file(path.c_str());
        CHECK(GetTickCount() - started < 1000);
        if (FAILED(verdict)) {
            ++refused;
            continue;
        }
        ++passed;
        INFO("round " << round);
        REQUIRE(testing::ends_within(5000, [path] { walk_with_platform(path); }));
    }
    MESSAGE(passed << " damaged files passed (the platform walked each), " << refused << " were refused");
    CHECK(refused > 0);
}

TEST_CASE("streams cut short as the platform's destruction leaves them pass only in the element a record names, "
          "and are emptied so that the platform destroys what is left") {
    testing::com_apartment com;
    testing::scratch_dir dir;
    std::wstring sample = dir.file(L"sample"), path = dir.file(L"cut");
    std::string data(200 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 / 5);
    auto write = [&](IStorage* storage, const wchar_t* name, const std::string& bytes) {
        tools::interface_holder<IStream> stream;
        REQUIRE(storage->CreateStream(name, child_mode, 0, 0, stream.put()) == S_OK);
        REQUIRE(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr) == S_OK);
    };
    {
        auto root = testing::create_docfile(sample);
        write(root.get(), L"file", data);
        write(root.get(), L"keep", data);
        tools::interface_holder<IStorage> folder;
        REQUIRE(root->CreateStorage(L"folder", child_mode, 0, 0, folder.put()) == S_OK);
        write(folder.get(), L"large", data);
        write(folder.get(), L"small", data.substr(0, 100));
    }
    const compound_file_image healthy(sample);
    // The platform frees a chain from its end, and its entry keeps its size until the destruction ends.
    auto cut = [&](compound_file_image& f, const wchar_t* name, size_t kept) {
        auto chain = f.chain(f.field(f.find(name), f.start));
        for (size_t i = chain.size(); i-- > kept;) f.set_u32(f.fat_at(chain[i]), 0xFFFFFFFF);
    };
    // The record names its element only once it says "copied".
    auto made = [&](const char* record, const std::function<void(compound_file_image&)>& damage) {
        {
            compound_file_image image = healthy;
            image.save(path);
            auto root = testing::open_docfile(path);
            std::wstring text = tools::to_wide(record);
            write(root.get(), L"record", std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
        }
        compound_file_image image(path);
        damage(image);
        image.save(path);
        return image.bytes;
    };
    auto named = [](std::vector<std::wstring> element) {
        return platform::half_destroyed_element{L"record", [element](const std::vector<unsigned char>& bytes) {
                                                    return bytes.size() == 12 && bytes[0] == 'c' ? element
                                                                                                 : std::vector<std::wstring>();
                                                }};
    };
    auto cut_file = [&](compound_file_image& f) { cut(f, L"file", 120); };
    // As a repair cut short by a power cut may leave it: the new size on the disk, the chain's new end not.
    auto cut_file_sized = [&](compound_file_image& f) {
        cut_file(f);
        f.set_u64(f.entry_at(f.find(L"file")) + f.size, uint64_t(120) * f.sector_size());
    };
    auto cut_folder = [&](compound_file_image& f) {
        cut(f, L"large", 0);
        uint32_t small = f.find(L"small");
        f.set_u32(f.sector_at(f.u32(f.first_mini_fat)) + 4 * f.u32(f.entry_at(small) + f.start), 0xFFFFFFFF);
    };

    // Refused, and left as it was, unless the record says "copied" and names the element that holds the cut.
    const std::tuple<const char*, std::function<void(compound_file_image&)>, std::vector<std::wstring>> refused[] = {
        {"copied", cut_file, {L"keep"}},
        {"begun.", cut_file, {L"file"}},
        {"copied", cut_folder, {L"file"}},
        {"copied", cut_folder, {L"large"}},
        {"copied", [&](auto& f) { cut(f, L"keep", 3); }, {L"folder", L"large"}},
    };
    for (const auto& [record, damage, element] : refused) {
        auto bytes = made(record, damage);
        CHECK(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
        CHECK(platform::empty_half_destroyed_streams(path.c_str(), named(element)) == STG_E_DOCFILECORRUPT);
        CHECK(platform::empty_half_destroyed_streams(path.c_str(), named({})) == STG_E_DOCFILECORRUPT);
        CHECK(testing::read_file(path) == bytes);
    }

    for (const auto& [damage, element] : {std::pair{std::function<void(compound_file_image&)>(cut_file), L"file"},
                                          std::pair{std::function<void(compound_file_image&)>(cut_file_sized), L"file"},
                                          std::pair{std::function<void(compound_file_image&)>(cut_folder), L"folder"}}) {
        INFO(tools::to_narrow(element));
        made("copied", damage);
        REQUIRE(platform::check_compound_file(path.c_str()) == STG_E_DOCFILECORRUPT);
        {
            // The platform itself cannot destroy a stream whose chain runs into a free sector.
            tools::interface_holder<IStorage> root;
            REQUIRE(StgOpenStorageEx(path.c_str(), child_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage, root.put_void()) == S_OK);
            MESSAGE("the platform destroying the cut element as it is: " << std::hex << root->DestroyElement(element));
        }
        made("copied", damage);
        CHECK(platform::empty_half_destroyed_streams(path.c_str(), {L"no record", named({element}).read}) == STG_E_DOCFILECORRUPT);
        CHECK(platform::empty_half_destroyed_streams(path.c_str(), named({element})) == S_OK);
        CHECK(platform::check_compound_file(path.c_str()) == S_OK);
        size_t file_size = testing::read_file(path).size();
        auto root = testing::open_docfile(path);
        CHECK(root->DestroyElement(element) == S_OK);
        // Every sector of the element is free again: a new stream as large fits into them. Every other stream is whole.
        write(root.get(), L"new", data);
        root.reset();
        CHECK(testing::read_file(path).size() == file_size);
        CHECK(platform::check_compound_file(path.c_str()) == S_OK);
        root = testing::open_docfile(path);
        tools::interface_holder<IStorage> folder;
        if (lstrcmpW(element, L"folder") != 0) REQUIRE(root->OpenStorage(L"folder", nullptr, child_mode, nullptr, 0, folder.put()) == S_OK);
        for (auto [storage, name] : {std::pair{root.get(), L"keep"}, std::pair{root.get(), L"new"}, std::pair{folder.get(), L"large"}}) {
            if (!storage) continue;
            tools::interface_holder<IStream> stream;
            REQUIRE(storage->OpenStream(name, nullptr, child_mode, 0, stream.put()) == S_OK);
            std::string read(data.size() + 1, '\0');
            ULONG got = 0;
            REQUIRE(stream->Read(read.data(), static_cast<ULONG>(read.size()), &got) == S_OK);
            CHECK(read.substr(0, got) == data);
        }
    }
}
