// File objects over real storage files: contents through delegates, the content digest, shared seek
// position, and what happens to open files when their element is deleted, renamed or recreated.
#include <doctest.h>
#include <tools/com_initializer.h>
#include <windows.h>

#include <orrisafe.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <open_storage_table.h>
#include <storage_object.h>
#include <stream_delegate.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

#include "object_test_support.h"

using object_testing::bstr;
using object_testing::name_of;
using Folder = tools::interface_holder<IStorageFolder>;
using File = tools::interface_holder<IStorageFile>;
using Stream = tools::interface_holder<IStream>;

namespace {

using apartment = tools::com_initializer;

struct open_storage {
    apartment com;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"files.orrisafe");
    COpenStorageTable table{L"", nullptr, nullptr};
    Folder root;

    open_storage() {
        object_testing::create_storage_file(path);
        root.reset(CStorageObject::CreateRootFolder(table, path));
        REQUIRE(root);
    }

    File create(const std::wstring& name, const std::string& contents) {
        File file;
        REQUIRE(root->OpenFile(bstr(name), VARIANT_TRUE, file.put()) == S_OK);
        Stream stream;
        REQUIRE(file->GetStream(stream.put()) == S_OK);
        ULONG written = 0;
        REQUIRE(stream->Write(contents.data(), static_cast<ULONG>(contents.size()), &written) == S_OK);
        REQUIRE(written == contents.size());
        return file;
    }
};

std::string hex(const GUID& digest) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&digest);
    std::string text;
    const char* digits = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string read_all(IStream* stream) {
    std::string text;
    char buffer[1000];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read) text.append(buffer, read);
    return text;
}

void seek(IStream* stream, LONGLONG offset) {
    LARGE_INTEGER move;
    move.QuadPart = offset;
    REQUIRE(stream->Seek(move, STREAM_SEEK_SET, nullptr) == S_OK);
}

}  // namespace

TEST_CASE("the content digest XORs the MD5 of each 4096-byte read") {
    open_storage s;
    GUID digest;
    File empty = s.create(L"empty", "");
    CHECK(empty->GetDigest(&digest) == S_OK);
    CHECK(hex(digest) == std::string(32, '0'));

    File digits = s.create(L"digits", "0123456789");
    std::memset(&digest, 0xAB, sizeof digest);
    CHECK(digits->GetDigest(&digest) == S_OK);
    CHECK(hex(digest) == "781e5e245d69b566979b86e28d23f2c7");

    // Two equal blocks cancel out.
    File zeros = s.create(L"zeros", std::string(8192, '\0'));
    CHECK(zeros->GetDigest(&digest) == S_OK);
    CHECK(hex(digest) == std::string(32, '0'));

    // Whole blocks in another order give the same digest; other contents a different one.
    std::mt19937 random(7);
    std::string first(4096, ' '), second(4096, ' ');
    for (auto& c : first) c = static_cast<char>(random());
    for (auto& c : second) c = static_cast<char>(random());
    GUID forward, backward, changed;
    CHECK(s.create(L"ab", first + second + "tail")->GetDigest(&forward) == S_OK);
    CHECK(s.create(L"ba", second + first + "tail")->GetDigest(&backward) == S_OK);
    CHECK(s.create(L"ab2", first + second + "tailx")->GetDigest(&changed) == S_OK);
    CHECK(hex(forward) == hex(backward));
    CHECK(hex(forward) != hex(changed));
    CHECK(hex(forward) != std::string(32, '0'));
}

TEST_CASE("all streams of one file share one seek position, also with the digest") {
    open_storage s;
    File file = s.create(L"shared.txt", "abcdefghij");
    Stream one, two;
    REQUIRE(file->GetStream(one.put()) == S_OK);
    REQUIRE(file->GetStream(two.put()) == S_OK);
    CHECK(one.get() != two.get());
    seek(one.get(), 3);
    char buffer[4] = {};
    ULONG read = 0;
    CHECK(two->Read(buffer, 3, &read) == S_OK);
    CHECK(std::string(buffer, read) == "def");
    GUID digest;
    CHECK(file->GetDigest(&digest) == S_OK);
    // The digest read to the end.
    CHECK(one->Read(buffer, 3, &read) == S_OK);
    CHECK(read == 0);

    unsigned __int64 size = 0;
    CHECK(file->GetSize(&size) == S_OK);
    CHECK(size == 10);
    ElementTimes times;
    CHECK(file->GetTimes(&times) == S_OK);
}

TEST_CASE("a stream delegate answers only its own interfaces and outlives its file object") {
    open_storage s;
    File file = s.create(L"kept.txt", "kept contents");
    Stream stream;
    REQUIRE(file->GetStream(stream.put()) == S_OK);
    void* out = reinterpret_cast<void*>(1);
    tools::interface_holder<IUnknown> unknown;
    CHECK(stream->QueryInterface(IID_IUnknown, unknown.put_void()) == S_OK);
    tools::interface_holder<ISequentialStream> sequential;
    CHECK(stream->QueryInterface(IID_ISequentialStream, sequential.put_void()) == S_OK);
    CHECK(stream->QueryInterface(IID_IMarshal, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);
    CHECK(stream->QueryInterface(IID_IStorage, &out) == E_NOINTERFACE);
    unknown.reset();
    sequential.reset();

    // Without the file object (and the root folder) the stream still reads, and holds the file open.
    file.reset();
    s.root.reset();
    CHECK(s.table.Empty());
    seek(stream.get(), 0);
    CHECK(read_all(stream.get()) == "kept contents");
    CHECK_FALSE(object_testing::file_is_free(s.path));
    stream.reset();
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("many holders released in any order leave nothing open") {
    open_storage s;
    {
        Folder made;
        REQUIRE(s.root->OpenFolder(bstr(L"dir\\sub"), VARIANT_TRUE, made.put()) == S_OK);
    }
    for (int round = 0; round < 6; ++round) {
        std::vector<tools::interface_holder<IUnknown>> held;
        {
            Folder folder;
            REQUIRE(s.root->OpenFolder(bstr(L"dir\\sub"), 0, folder.put()) == S_OK);
            File file;
            REQUIRE(folder->OpenFile(bstr(L"f" + std::to_wstring(round)), VARIANT_TRUE, file.put()) == S_OK);
            for (int i = 0; i < 3; ++i) {
                Stream stream;
                REQUIRE(file->GetStream(stream.put()) == S_OK);
                held.emplace_back(stream.detach());
            }
            tools::interface_holder<IElementEnum> elements;
            REQUIRE(folder->EnumElements(elements.put()) == S_OK);
            tools::interface_holder<IElementInfo> info;
            REQUIRE(elements->Next(info.put()) == S_OK);
            held.emplace_back(info.detach());
            held.emplace_back(elements.detach());
            held.emplace_back(file.detach());
            held.emplace_back(folder.detach());
            Folder dir;
            REQUIRE(s.root->OpenFolder(bstr(L"dir"), 0, dir.put()) == S_OK);
            held.emplace_back(dir.detach());
            held.emplace_back(Folder(s.root).detach());
        }
        std::mt19937 random(round);
        std::shuffle(held.begin(), held.end(), random);
        if (round == 0) std::reverse(held.begin(), held.end());
        if (round == 5) s.root.reset();
        while (!held.empty()) held.pop_back();
        if (round == 5) {
            CHECK(s.table.Empty());
            CHECK(object_testing::file_is_free(s.path));
        } else {
            // Only the root's own holder is left: nothing below it is open.
            CHECK(static_cast<CStorageObject*>(s.root.get())->Table().Empty());
            Folder dir;
            REQUIRE(s.root->OpenFolder(bstr(L"dir"), 0, dir.put()) == S_OK);
        }
    }
}

TEST_CASE("open files are cut off when their element is deleted or renamed, never left stale") {
    open_storage s;
    File old_file = s.create(L"x.txt", "first");
    Stream old_stream;
    REQUIRE(old_file->GetStream(old_stream.put()) == S_OK);
    old_stream.reset();
    CHECK(s.root->DeleteElement(bstr(L"X.TXT")) == S_OK);
    // The object held here in-process is disconnected, not freed under its holder.
    unsigned __int64 size = 0;
    CHECK(object_testing::is_object_gone(old_file->GetSize(&size)));
    BSTR name = nullptr;
    CHECK(object_testing::is_object_gone(old_file->GetName(&name)));

    // Recreated under the same name; the stale object's release must not touch the new one's entry.
    File new_file = s.create(L"x.txt", "second");
    old_file.reset();
    CHECK(name_of(new_file.get()) == L"x.txt");
    Stream stream;
    REQUIRE(new_file->GetStream(stream.put()) == S_OK);
    seek(stream.get(), 0);
    CHECK(read_all(stream.get()) == "second");
    stream.reset();

    // Renamed while open: the open object is cut off first.
    CHECK(s.root->RenameElement(bstr(L"x.txt"), bstr(L"y.txt")) == S_OK);
    CHECK(object_testing::is_object_gone(new_file->GetSize(&size)));
    File renamed;
    REQUIRE(s.root->OpenFile(bstr(L"y.txt"), 0, renamed.put()) == S_OK);
    REQUIRE(renamed->GetStream(stream.put()) == S_OK);
    CHECK(read_all(stream.get()) == "second");
    stream.reset();
    renamed.reset();
    new_file.reset();
    s.root.reset();
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("deleting an open folder cuts off everything opened inside it") {
    open_storage s;
    Folder a;
    REQUIRE(s.root->OpenFolder(bstr(L"a\\b"), VARIANT_TRUE, a.put()) == S_OK);
    Folder b = a;
    REQUIRE(s.root->OpenFolder(bstr(L"a"), 0, a.put()) == S_OK);
    File f;
    REQUIRE(b->OpenFile(bstr(L"f.txt"), VARIANT_TRUE, f.put()) == S_OK);
    Stream contents;
    REQUIRE(f->GetStream(contents.put()) == S_OK);
    contents.reset();

    CHECK(s.root->DeleteElement(bstr(L"a")) == S_OK);
    tools::interface_holder<IElementEnum> elements;
    CHECK(object_testing::is_object_gone(a->EnumElements(elements.put())));
    Folder none;
    CHECK(object_testing::is_object_gone(b->OpenFolder(bstr(L"c"), VARIANT_TRUE, none.put())));
    unsigned __int64 size = 0;
    CHECK(object_testing::is_object_gone(f->GetSize(&size)));
    CHECK(static_cast<CStorageObject*>(s.root.get())->Table().Empty());
    // The element is gone, the root keeps working.
    REQUIRE(s.root->OpenFolder(bstr(L"a"), 0, none.put()) == STG_E_FILENOTFOUND);
    REQUIRE(s.root->OpenFolder(bstr(L"a"), VARIANT_TRUE, none.put()) == S_OK);
    a.reset();
    b.reset();
    f.reset();
    none.reset();
    s.root.reset();
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("renaming an open folder cuts off what was opened under the old name") {
    open_storage s;
    Folder old_folder;
    REQUIRE(s.root->OpenFolder(bstr(L"before"), VARIANT_TRUE, old_folder.put()) == S_OK);
    File inside;
    REQUIRE(old_folder->OpenFile(bstr(L"f.txt"), VARIANT_TRUE, inside.put()) == S_OK);
    inside.reset();
    REQUIRE(old_folder->OpenFile(bstr(L"f.txt"), 0, inside.put()) == S_OK);

    CHECK(s.root->RenameElement(bstr(L"before"), bstr(L"after")) == S_OK);
    VARIANT_BOOL root;
    CHECK(object_testing::is_object_gone(old_folder->IsRoot(&root)));
    unsigned __int64 size = 0;
    CHECK(object_testing::is_object_gone(inside->GetSize(&size)));
    Folder renamed;
    REQUIRE(s.root->OpenFolder(bstr(L"after"), 0, renamed.put()) == S_OK);
    CHECK(renamed.get() != old_folder.get());
    CHECK(name_of(renamed.get()) == L"after");
    File moved;
    CHECK(renamed->OpenFile(bstr(L"f.txt"), 0, moved.put()) == S_OK);
    Folder gone;
    CHECK(s.root->OpenFolder(bstr(L"before"), 0, gone.put()) == STG_E_FILENOTFOUND);
}

TEST_CASE("deleting a file whose stream a client still holds neither crashes nor locks the file for ever") {
    open_storage s;
    File file = s.create(L"held.txt", "held contents");
    Stream stream;
    REQUIRE(file->GetStream(stream.put()) == S_OK);
    HRESULT deleted = s.root->DeleteElement(bstr(L"held.txt"));
    INFO("delete: " << deleted);
    unsigned __int64 size = 0;
    CHECK(object_testing::is_object_gone(file->GetSize(&size)));
    // The delegate stays callable whatever became of the element.
    char buffer[8];
    ULONG read = 0;
    stream->Read(buffer, sizeof buffer, &read);
    stream.reset();
    file.reset();
    if (FAILED(deleted)) CHECK(s.root->DeleteElement(bstr(L"held.txt")) == S_OK);
    File again;
    CHECK(s.root->OpenFile(bstr(L"held.txt"), 0, again.put()) == STG_E_FILENOTFOUND);
    s.root.reset();
    CHECK(object_testing::file_is_free(s.path));
}

TEST_CASE("a file's stream refuses what the platform cannot do and growth that would hold the service") {
    open_storage s;
    File file = s.create(L"bounded.bin", std::string(10000, 'b'));
    Stream stream, clone, target;
    REQUIRE(file->GetStream(stream.put()) == S_OK);
    auto seek_to = [](IStream* on, LONGLONG offset, DWORD origin = STREAM_SEEK_SET) {
        LARGE_INTEGER move;
        move.QuadPart = offset;
        return on->Seek(move, origin, nullptr);
    };
    auto size = [&](ULONGLONG to) { return stream->SetSize(ULARGE_INTEGER{{static_cast<DWORD>(to), static_cast<DWORD>(to >> 32)}}); };
    auto where = [](IStream* on) {
        STATSTG stat{};
        ULARGE_INTEGER at{};
        REQUIRE(on->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at) == S_OK);
        REQUIRE(on->Stat(&stat, STATFLAG_NONAME) == S_OK);
        return std::pair{at.QuadPart, stat.cbSize.QuadPart};
    };
    const LONGLONG four_gib = 0x100000000ll, bound = static_cast<LONGLONG>(largest_growth_per_call);

    // Before the start or past the largest stream: refused, and the position stays.
    REQUIRE(seek_to(stream.get(), 100) == S_OK);
    CHECK(seek_to(stream.get(), -1) == STG_E_INVALIDFUNCTION);
    CHECK(seek_to(stream.get(), -101, STREAM_SEEK_CUR) == STG_E_INVALIDFUNCTION);
    CHECK(seek_to(stream.get(), -10001, STREAM_SEEK_END) == STG_E_INVALIDFUNCTION);
    CHECK(seek_to(stream.get(), 0x7FFFFFFFFFFFFFFFll, STREAM_SEEK_END) == STG_E_DOCFILETOOLARGE);
    CHECK(seek_to(stream.get(), 0, 7) == STG_E_INVALIDFUNCTION);
    CHECK(where(stream.get()) == std::pair{100ull, 10000ull});
    CHECK(seek_to(stream.get(), -10000, STREAM_SEEK_END) == S_OK);

    // The largest place is reachable, but nothing goes past it.
    CHECK(seek_to(stream.get(), four_gib) == STG_E_DOCFILETOOLARGE);
    REQUIRE(seek_to(stream.get(), four_gib - 1) == S_OK);
    ULONG written = 7;
    CHECK(stream->Write("x", 1, &written) == STG_E_DOCFILETOOLARGE);
    CHECK(written == 0);
    CHECK(size(four_gib) == STG_E_DOCFILETOOLARGE);

    // One call grows the stream by largest_growth_per_call at most, writing or setting its size.
    REQUIRE(seek_to(stream.get(), 10000 + bound) == S_OK);
    CHECK(stream->Write("x", 1, &written) == STG_E_INVALIDFUNCTION);
    CHECK(size(10000 + bound + 1) == STG_E_INVALIDFUNCTION);
    REQUIRE(seek_to(stream.get(), 10000 + bound - 1) == S_OK);
    CHECK(stream->Write("x", 1, &written) == S_OK);
    CHECK(size(10000 + 2 * bound) == S_OK);
    CHECK(where(stream.get()) == std::pair{10000ull + bound, 10000ull + 2 * bound});

    // Copying out is bounded the same way: the platform copies in 128-byte pieces, each a call on the target.
    REQUIRE(CreateStreamOnHGlobal(nullptr, TRUE, target.put()) == S_OK);
    ULARGE_INTEGER all{{~0u, ~0u}}, copied{};
    REQUIRE(size(bound + 1) == S_OK);
    REQUIRE(seek_to(stream.get(), 0) == S_OK);
    CHECK(stream->CopyTo(target.get(), all, nullptr, &copied) == STG_E_INVALIDFUNCTION);
    CHECK(copied.QuadPart == 0);
    REQUIRE(seek_to(stream.get(), 1) == S_OK);
    CHECK(stream->CopyTo(target.get(), all, nullptr, &copied) == S_OK);
    CHECK(copied.QuadPart == static_cast<ULONGLONG>(bound));

    // A clone has a position of its own and the same bounds.
    REQUIRE(stream->Clone(clone.put()) == S_OK);
    CHECK(seek_to(clone.get(), four_gib) == STG_E_DOCFILETOOLARGE);
    CHECK(seek_to(clone.get(), -1) == STG_E_INVALIDFUNCTION);
    CHECK(clone->Write("y", 1, &written) == S_OK);
    CHECK(where(stream.get()) == std::pair{bound + 1ull, bound + 2ull});
}
