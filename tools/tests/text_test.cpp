#include <doctest.h>
#include <tools/com_error.h>
#include <tools/text.h>

#include <stdexcept>

TEST_CASE("base64 without padding, and decoding that skips what is not in the alphabet") {
    CHECK(tools::base64_encode("abc", 3) == "YWJj");
    CHECK(tools::base64_encode("ab", 2) == "YWI");
    CHECK(tools::base64_encode("a", 1) == "YQ");
    CHECK(tools::base64_encode("", 0).empty());
    CHECK_THROWS_AS(tools::base64_encode(nullptr, 3), std::invalid_argument);

    tools::byte_buffer ab{'a', 'b'};
    CHECK(tools::base64_decode("YWI=") == ab);
    CHECK(tools::base64_decode("YWI") == ab);
    CHECK(tools::base64_decode("YW\r\nI") == ab);
    CHECK(tools::base64_decode("").empty());

    tools::byte_buffer all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    for (size_t n : {0u, 1u, 2u, 3u, 4u, 100u, 256u}) {
        tools::byte_buffer part(all.begin(), all.begin() + n);
        std::string text = tools::base64_encode(part);
        CHECK(text.size() == 4 * (n / 3) + (n % 3 ? n % 3 + 1 : 0));
        CHECK(tools::base64_decode(text.c_str()) == part);
    }
}

TEST_CASE("GUID text, parsing and XOR") {
    CHECK(tools::guid_to_string(GUID_NULL) == L"{00000000-0000-0000-0000-000000000000}");
    GUID g = tools::new_guid();
    std::wstring text = tools::guid_to_string(g);
    CHECK(text.size() == 38);
    CHECK(text.find_first_of(L"abcdef") == std::wstring::npos);
    CHECK(IsEqualGUID(tools::string_to_guid(text.c_str()), g));
    std::wstring lower = text;
    for (auto& c : lower) c = towlower(c);
    CHECK(IsEqualGUID(tools::string_to_guid(lower.c_str()), g));
    CHECK_THROWS_AS(tools::string_to_guid(L"{not a guid}"), _com_error);

    CHECK(IsEqualGUID(tools::guid_xor(g, g), GUID_NULL));
    GUID h = tools::new_guid();
    GUID x = tools::guid_xor(g, h);
    const unsigned char* pg = reinterpret_cast<const unsigned char*>(&g);
    const unsigned char* ph = reinterpret_cast<const unsigned char*>(&h);
    const unsigned char* px = reinterpret_cast<const unsigned char*>(&x);
    for (int i = 0; i < 16; ++i) CHECK(px[i] == (pg[i] ^ ph[i]));
    tools::guid_xor_assign(x, h);
    CHECK(IsEqualGUID(x, g));
}

TEST_CASE("hex and ANSI conversions") {
    unsigned char bytes[] = {0x0A, 0xFF};
    CHECK(tools::bytes_to_hex(bytes, 2) == L"0aff");
    CHECK(tools::bytes_to_hex(bytes, 0).empty());
    CHECK(tools::to_narrow(L"Report.txt") == "Report.txt");
    CHECK(tools::to_wide("Report.txt") == L"Report.txt");
    CHECK(tools::to_narrow(L"").empty());
    // A character outside the ANSI code page must not cut the rest of the text off.
    std::string mixed = tools::to_narrow(L"a\x4E2D" L"bc");
    CHECK(mixed.size() >= 4);
    CHECK(mixed.substr(mixed.size() - 2) == "bc");
}
