// The item stream over a real server file stream, and its lifetime against the module lock.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <shell/guid_transform.h>
#include <shell/item_stream.h>
#include <shell/module_lock.h>
#include <tools/forwarding_stream.h>
#include <tools/md5.h>
#include <tools/tests/test_support.h>

namespace {

// Records what the read hook was handed; fails when told to.
class probed_stream final : public CItemStream {
public:
    using CItemStream::CItemStream;
    HRESULT OnRead(void*, ULONG count) noexcept override {
        seen.push_back(count);
        return fail_reads ? E_ABORT : S_OK;
    }
    std::vector<ULONG> seen;
    bool fail_reads = false;
};

// The server's stream, with the seeks that reach it counted.
class counted_stream final : public tools::forwarding_stream {
public:
    explicit counted_stream(IStream* inner) : inner_(inner) {}
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        ++seeks;
        return forwarding_stream::Seek(move, origin, position);
    }
    int seeks = 0;

protected:
    IStream* inner() const noexcept override { return inner_.get(); }

private:
    tools::interface_holder<IStream> inner_;
};

ULONGLONG position_of(IStream* stream) {
    ULARGE_INTEGER at{};
    REQUIRE(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at) == S_OK);
    return at.QuadPart;
}

void seek_to(IStream* stream, LONGLONG offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    REQUIRE(stream->Seek(to, STREAM_SEEK_SET, nullptr) == S_OK);
}

// The server's digest of a file, computed here from the bytes: the XOR of the MD5 of each 4096-byte block.
StreamDigest expected_digest(const std::vector<BYTE>& bytes) {
    StreamDigest digest{};
    for (size_t at = 0; at < bytes.size(); at += 4096) {
        tools::md5_digest part = tools::md5(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at));
        for (int i = 0; i < 16; ++i) reinterpret_cast<BYTE*>(&digest)[i] ^= part[i];
    }
    return digest;
}

}  // namespace

TEST_CASE("an item stream stores exactly the bytes given and reads exactly the bytes stored, through the server") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    std::wstring path = dir.file(L"stream.orrisafe");
    {
        tools::interface_holder<IStorage> storage;
        REQUIRE(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put()) == S_OK);
    }
    std::vector<BYTE> bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>((i * 7) ^ (i >> 8));
    FileKey key = GuidTransform(ContentKey(tools::byte_buffer(16, 9)), CLSID_StorageServer);

    auto server = ConnectServer();
    auto root = OpenStorageOrThrow(server.get(), path);
    auto file = OpenFileOrThrow(root.get(), L"data.bin", VARIANT_TRUE);
    LONG locks = shell::ModuleLockCount();
    {
        tools::interface_holder<counted_stream> server_stream(new counted_stream(GetStreamOrThrow(file.get()).detach()));
        server_stream->AddRef();  // the item stream's reference, handed over
        tools::interface_holder<probed_stream> stream(new probed_stream(server_stream.get(), key));
        CHECK(shell::ModuleLockCount() == locks + 1);
        ULONG written = 0;
        REQUIRE(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written) == S_OK);
        CHECK(written == bytes.size());
        StreamDigest stored = GetDigestOrThrow(file.get());
        StreamDigest expected = expected_digest(bytes);
        CHECK(std::memcmp(&stored, &expected, 16) == 0);

        // Read in blocks as a target reads a file out: no call but the reads reaches the server.
        seek_to(stream.get(), 0);
        const int seeks = server_stream->seeks;
        std::vector<BYTE> back(bytes.size());
        ULONG read = 0;
        for (ULONG at = 0; at < back.size(); at += read) {
            REQUIRE(stream->Read(back.data() + at, std::min<ULONG>(4096, static_cast<ULONG>(back.size()) - at), &read) ==
                    S_OK);
            REQUIRE(read > 0);
        }
        CHECK(back == bytes);
        CHECK(server_stream->seeks == seeks);

        // Without an out pointer the hook still learns how many bytes really came.
        seek_to(stream.get(), 9990);
        stream->seen.clear();
        CHECK(SUCCEEDED(stream->Read(back.data(), 100, nullptr)));
        CHECK(stream->seen == std::vector<ULONG>{10});
        // A failing hook leaves the position where it was.
        seek_to(stream.get(), 500);
        stream->fail_reads = true;
        CHECK(stream->Read(back.data(), 100, &read) == E_ABORT);
        CHECK(position_of(stream.get()) == 500);
        // Also where the read came short at the end.
        seek_to(stream.get(), 9990);
        CHECK(stream->Read(back.data(), 100, &read) == E_ABORT);
        CHECK(position_of(stream.get()) == 9990);
        stream->fail_reads = false;

        // CopyTo with more than the stream holds copies it all and stops at its end.
        seek_to(stream.get(), 0);
        tools::interface_holder<IStream> target;
        REQUIRE(CreateStreamOnHGlobal(nullptr, TRUE, target.put()) == S_OK);
        ULARGE_INTEGER all, copied_in{}, copied_out{};
        all.QuadPart = 1ull << 40;
        CHECK(stream->CopyTo(target.get(), all, &copied_in, &copied_out) == S_OK);
        CHECK(copied_in.QuadPart == bytes.size());
        CHECK(copied_out.QuadPart == bytes.size());
        STATSTG stat{};
        REQUIRE(target->Stat(&stat, STATFLAG_NONAME) == S_OK);
        CHECK(stat.cbSize.QuadPart == bytes.size());
        HGLOBAL memory = nullptr;
        REQUIRE(GetHGlobalFromStream(target.get(), &memory) == S_OK);
        CHECK(std::memcmp(GlobalLock(memory), bytes.data(), bytes.size()) == 0);
        GlobalUnlock(memory);
    }
    CHECK(shell::ModuleLockCount() == locks);
}

TEST_CASE("an item stream lives by its own count, whoever else holds the stream it wraps") {
    tools::interface_holder<IStream> inner;
    REQUIRE(CreateStreamOnHGlobal(nullptr, TRUE, inner.put()) == S_OK);
    LONG locks = shell::ModuleLockCount();
    inner->AddRef();  // the wrapper's reference, handed over
    auto* stream = new CItemStream(inner.get(), FileKey());
    CHECK(stream->AddRef() == 2);
    CHECK(stream->Release() == 1);
    CHECK(stream->Release() == 0);  // gone, although the inner stream is still held here
    CHECK(shell::ModuleLockCount() == locks);
    CHECK(inner->AddRef() == 2);  // only this test's reference and the one just taken remain
    inner->Release();
}
