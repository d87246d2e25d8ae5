// The content-key map and the per-file key.
#include <doctest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include <shell/guid_transform.h>
#include <shell/storage_key_map.h>
#include <tools/com_error.h>
#include <tools/win_except.h>

namespace {

const GUID storage_a = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
const GUID storage_b = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 5}};

ContentKey key_of(unsigned char fill) { return ContentKey(tools::byte_buffer(16, fill)); }

std::string hex(const FileKey& key) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : key.bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

TEST_CASE("the key map registers once, counts folders, keeps an entry at zero and removes it only on purpose") {
    CStorageKeyMap map;
    CHECK_FALSE(map.Contains(storage_a));
    try {
        map.Find(storage_a);
        FAIL("a storage that was never unlocked gave a key");
    } catch (const _com_error& e) {
        CHECK(e.Error() == E_ACCESSDENIED);
    }
    map.AddRef(storage_a);  // absent: nothing happens
    map.Remove(storage_a);
    CHECK(map.Count(storage_a) == -1);

    map.Register(storage_a, key_of(0x42), tools::auto_cert_context());
    CHECK(map.Count(storage_a) == 1);
    try {
        map.Register(storage_a, key_of(0x43), tools::auto_cert_context());
        FAIL("a second registration was accepted");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == ERROR_ALREADY_INITIALIZED);
    }
    CHECK(map.Find(storage_a).bytes() == tools::byte_buffer(16, 0x42));  // the first key stays
    map.Release(storage_a);
    CHECK(map.Count(storage_a) == 0);
    CHECK(map.Find(storage_a).bytes() == tools::byte_buffer(16, 0x42));

    map.Register(storage_b, key_of(7), tools::auto_cert_context());
    map.AddRef(storage_b);
    CHECK(map.Count(storage_b) == 2);

    map.Remove(storage_a);
    CHECK_FALSE(map.Contains(storage_a));
    CHECK(map.Contains(storage_b));
    CHECK(&CStorageKeyMap::Instance() == &CStorageKeyMap::Instance());
}

TEST_CASE("GuidTransform: MD5 of the content key keys RC4 over the element id's bytes") {
    tools::byte_buffer bytes(16);
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i);
    ContentKey key{tools::byte_buffer(bytes)};
    const GUID element = {0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
    // Host openssl: md5(00..0f) = 1ac1ef01e96caf1be0d329331a4fc2a8, then RC4 under it over
    // 33 22 11 00 55 44 77 66 88 99 aa bb cc dd ee ff.
    CHECK(hex(GuidTransform(key, element)) == "f6f476688fa18d9c5f5b386552cfd7a0");
    CHECK(hex(GuidTransform(key, element)) == hex(GuidTransform(key, element)));

    for (int i = 0; i < 16; ++i) {
        CAPTURE(i);
        tools::byte_buffer changed = bytes;
        changed[i] ^= 0x80;
        CHECK(hex(GuidTransform(ContentKey(std::move(changed)), element)) != hex(GuidTransform(key, element)));
        GUID other = element;
        reinterpret_cast<unsigned char*>(&other)[i] ^= 0x01;
        CHECK(hex(GuidTransform(key, other)) != hex(GuidTransform(key, element)));
    }
}
