#include <doctest.h>

#include <platform/property_set_format.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

const GUID sample_fmtid = {0x686EECD9, 0x505F, 0x4F3A, {0xA2, 0x77, 0x83, 0x89, 0x0A, 0xA2, 0x12, 0x4B}};

// Room for a set between two pages nobody may touch: bytes placed against either of them make a read of
// one byte outside fault at once instead of going unnoticed.
class guarded_arena {
public:
    guarded_arena() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, (room_pages + 2) * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        REQUIRE(base_);
        DWORD old = 0;
        REQUIRE(VirtualProtect(base_, page_, PAGE_NOACCESS, &old));
        REQUIRE(VirtualProtect(base_ + (room_pages + 1) * page_, page_, PAGE_NOACCESS, &old));
    }
    ~guarded_arena() { VirtualFree(base_, 0, MEM_RELEASE); }
    guarded_arena(const guarded_arena&) = delete;
    guarded_arena& operator=(const guarded_arena&) = delete;

    const BYTE* place(const std::vector<BYTE>& bytes, bool against_end) {
        REQUIRE(bytes.size() <= room_pages * page_);
        BYTE* at = against_end ? base_ + (room_pages + 1) * page_ - bytes.size() : base_ + page_;
        if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    static constexpr size_t room_pages = 4;
    size_t page_ = 0;
    BYTE* base_ = nullptr;
};

std::vector<BYTE> encoded(PROPVARIANT value, UINT code_page) {
    std::vector<BYTE> out;
    REQUIRE(platform::encode_property_value(value, code_page, out) == S_OK);
    return out;
}

// A valid set of that code page with a dictionary, values of every type the layer decodes, and one of a
// type it keeps without decoding.
std::vector<BYTE> sample_set(UINT code_page) {
    platform::property_set_image image = platform::new_property_set(sample_fmtid, CLSID_NULL);
    image.code_page = code_page;
    PROPID id = 2;
    auto add = [&](const wchar_t* name, const std::vector<BYTE>& value) {
        image.names[id] = name;
        image.values[id++] = value;
    };
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"Report.txt");
    add(L"{2F808BAE-BF2C-4192-BCE2-48C6A40E546F}", encoded(v, code_page));
    PropVariantClear(&v);
    v.vt = VT_LPWSTR;
    v.pwszVal = const_cast<LPWSTR>(L"text");
    add(L"odd", encoded(v, code_page));
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    add(L"{8EBBA014-13B6-41EF-91D8-EFC75E41B58A}", encoded(v, code_page));
    v.vt = VT_UI8;
    v.uhVal.QuadPart = 0x0123456789ABCDEFull;
    add(L"flags", encoded(v, code_page));
    BYTE blob[7] = {1, 2, 3, 4, 5, 6, 7};
    v.vt = VT_BLOB;
    v.blob.cbSize = sizeof blob;
    v.blob.pBlobData = blob;
    add(L"blob", encoded(v, code_page));
    v.vt = VT_CLSID;
    v.puuid = const_cast<GUID*>(&sample_fmtid);
    add(L"id", encoded(v, code_page));
    v.vt = VT_I1;
    v.cVal = -5;
    add(L"i1", encoded(v, code_page));
    // A vector of two VT_I4 values: kept as it stands.
    add(L"vector", {0x03, 0x10, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0});
    return platform::serialize_property_set(image);
}

// Parses bytes placed against a guard page on either side. Whatever the parser accepts must decode or be
// refused value by value, and must still read back after our own rewrite of it.
int parse_guarded(const std::vector<BYTE>& bytes) {
    static guarded_arena arena;
    int accepted = 0;
    for (bool against_end : {true, false}) {
        platform::property_set_image image;
        HRESULT hr = platform::parse_property_set(arena.place(bytes, against_end), bytes.size(), image);
        if (FAILED(hr)) continue;
        ++accepted;
        for (const auto& [id, value] : image.values) {
            PROPVARIANT read;
            if (SUCCEEDED(platform::decode_property_value(value, image.code_page, &read))) PropVariantClear(&read);
            else if (read.vt != VT_EMPTY) FAIL("a refused value left something behind");
        }
        platform::property_set_image again;
        std::vector<BYTE> rewritten = platform::serialize_property_set(image);
        if (platform::parse_property_set(rewritten.data(), rewritten.size(), again) != S_OK || again.values != image.values)
            FAIL("a set we read does not read back after our own rewrite");
    }
    return accepted;
}

void put32(std::vector<BYTE>& bytes, size_t at, DWORD value) {
    if (at + 4 <= bytes.size()) std::memcpy(bytes.data() + at, &value, 4);
}

}  // namespace

TEST_CASE("the set parser refuses or reads any damage to a valid set, and never reads outside it") {
    for (UINT code_page : {1200u, 1252u}) {
        INFO("code page " << code_page);
        const std::vector<BYTE> good = sample_set(code_page);
        REQUIRE(parse_guarded(good) == 2);

        // Every truncation; only the last value's missing padding may still read.
        for (size_t n = 0; n < good.size(); ++n) parse_guarded(std::vector<BYTE>(good.begin(), good.begin() + n));

        // Every 32-bit field in turn set to the values that break sizes, counts and offsets.
        const DWORD extremes[] = {0, 1, 3, 4, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFC,
                                  static_cast<DWORD>(good.size()), static_cast<DWORD>(good.size() - 48),
                                  static_cast<DWORD>(good.size() - 47), static_cast<DWORD>(good.size() - 49)};
        for (size_t at = 0; at + 4 <= good.size(); at += 2)
            for (DWORD value : extremes) {
                auto bytes = good;
                put32(bytes, at, value);
                parse_guarded(bytes);
            }

        // Random damage of every kind, from a fixed seed.
        std::mt19937 random(20261209 + code_page);
        int accepted = 0;
        for (int round = 0; round < 4000; ++round) {
            auto bytes = good;
            int changes = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < changes; ++k) {
                switch (random() % 6) {
                    case 0: bytes[random() % bytes.size()] = static_cast<BYTE>(random()); break;
                    case 1: put32(bytes, random() % bytes.size(), static_cast<DWORD>(random())); break;
                    case 2: put32(bytes, random() % bytes.size(), static_cast<DWORD>(random() % 1024)); break;
                    case 3: bytes.resize(random() % (bytes.size() + 1)); break;
                    case 4: {  // a stretch copied over another: overlapping entries
                        size_t from = random() % bytes.size(), to = random() % bytes.size();
                        size_t n = random() % 32;
                        for (size_t i = 0; i < n && from + i < bytes.size() && to + i < bytes.size(); ++i)
                            bytes[to + i] = bytes[from + i];
                        break;
                    }
                    default: bytes.insert(bytes.begin() + random() % (bytes.size() + 1), 1 + random() % 5,
                                          static_cast<BYTE>(random()));
                }
                if (bytes.empty()) break;
            }
            accepted += parse_guarded(bytes);
        }
        CHECK(accepted > 0);
    }
}

TEST_CASE("a set of very many values of a type we keep undecoded is read in reasonable time") {
    // Each entry points at a four-byte value of a type the layer does not decode.
    const DWORD count = 200000;
    platform::property_set_image image = platform::new_property_set(sample_fmtid, CLSID_NULL);
    std::vector<BYTE> bytes = platform::serialize_property_set(image);
    bytes.resize(48);
    DWORD section_size = 8 + 8 * count + 4 * count;
    put32(bytes, 44, 48);
    bytes.resize(48 + section_size);
    put32(bytes, 48, section_size);
    put32(bytes, 52, count);
    for (DWORD i = 0; i < count; ++i) {
        put32(bytes, 56 + 8 * i, 2 + i);
        put32(bytes, 60 + 8 * i, 8 + 8 * count + 4 * i);
        put32(bytes, 48 + 8 + 8 * count + 4 * i, 0x1003);  // a vector of VT_I4, cut short
    }
    ULONGLONG start = GetTickCount64();
    platform::property_set_image read;
    CHECK(platform::parse_property_set(bytes.data(), bytes.size(), read) == S_OK);
    CHECK(read.values.size() == count);
    CHECK(GetTickCount64() - start < 10000);
}

TEST_CASE("a stray unit in a terminator's place never reaches a name or a string") {
    // Names and strings whose stored size counts a terminator that a foreign writer filled with 0x14.
    auto stored = [](const std::wstring& text, bool wide) {
        std::vector<BYTE> out;
        for (wchar_t c : text) {
            if (wide) out.insert(out.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8)});
            else out.push_back(c == L'\u00e9' ? 0xE9 : static_cast<BYTE>(c));
        }
        return out;
    };
    auto spoil_terminator = [](std::vector<BYTE>& bytes, const std::vector<BYTE>& text) {
        auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
        REQUIRE(at != bytes.end());
        REQUIRE(*(at + text.size()) == 0);
        *(at + text.size()) = 0x14;
    };
    for (UINT code_page : {1200u, 1252u}) {
        INFO("code page " << code_page);
        const bool unicode = code_page == 1200;
        platform::property_set_image image = platform::new_property_set(sample_fmtid, CLSID_NULL);
        image.code_page = code_page;
        PROPVARIANT v;
        PropVariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(L"Caf\u00e9 menu");
        image.names[2] = L"first name";
        image.values[2] = encoded(v, code_page);
        PropVariantClear(&v);
        v.vt = VT_LPWSTR;
        v.pwszVal = const_cast<LPWSTR>(L"wide text");
        image.names[3] = L"second";
        image.values[3] = encoded(v, code_page);
        std::vector<BYTE> bytes = platform::serialize_property_set(image);
        spoil_terminator(bytes, stored(L"first name", unicode));
        spoil_terminator(bytes, stored(L"second", unicode));
        spoil_terminator(bytes, stored(L"Caf\u00e9 menu", unicode));
        spoil_terminator(bytes, stored(L"wide text", true));

        platform::property_set_image read;
        REQUIRE(platform::parse_property_set(bytes.data(), bytes.size(), read) == S_OK);
        CHECK(read.names == image.names);
        PROPVARIANT value;
        REQUIRE(platform::decode_property_value(read.values[2], code_page, &value) == S_OK);
        CHECK(std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) == L"Caf\u00e9 menu");
        PropVariantClear(&value);
        REQUIRE(platform::decode_property_value(read.values[3], code_page, &value) == S_OK);
        CHECK(std::wstring(value.pwszVal) == L"wide text");
        PropVariantClear(&value);
    }
}
