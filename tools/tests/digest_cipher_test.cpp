// MD5 and RC4 against the vectors their RFCs publish (RFC 1321, RFC 6229).
#include <doctest.h>
#include <tools/md5.h>
#include <tools/rc4.h>

#include <string>

namespace {

std::string hex(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string md5_hex(const std::string& text) {
    tools::md5_digest d = tools::md5(text.data(), text.size());
    return hex(d.data(), d.size());
}

// The keystream itself: RC4 over zero bytes.
std::string keystream(const tools::byte_buffer& key, size_t from, size_t count) {
    tools::byte_buffer zeros(from + count);
    tools::rc4_crypt(key, zeros);
    return hex(zeros.data() + from, count);
}

}  // namespace

TEST_CASE("MD5 gives the digests of RFC 1321's test suite, one hasher for many inputs") {
    CHECK(md5_hex("") == "d41d8cd98f00b204e9800998ecf8427e");
    CHECK(md5_hex("abc") == "900150983cd24fb0d6963f7d28e17f72");
    CHECK(md5_hex("message digest") == "f96b697d7cb7938d525a2f31aaf161d0");
    tools::md5_hasher hasher;
    std::string digits = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    tools::md5_digest first = hasher.digest(digits.data(), digits.size());
    CHECK(hex(first.data(), 16) == "57edf4a22be3c955ac49da2e2107b67a");
    // Each digest starts afresh.
    CHECK(hasher.digest(digits.data(), digits.size()) == first);
}

TEST_CASE("RC4's keystream is RFC 6229's for 40- and 128-bit keys, and applying it twice gives the data back") {
    tools::byte_buffer key40 = {1, 2, 3, 4, 5};
    CHECK(keystream(key40, 0, 16) == "b2396305f03dc027ccc3524a0a1118a8");
    CHECK(keystream(key40, 16, 16) == "6982944f18fc82d589c403a47a0d0919");
    CHECK(keystream(key40, 240, 16) == "28cb1132c96ce286421dcaadb8b69eae");
    tools::byte_buffer key128 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    CHECK(keystream(key128, 0, 16) == "9ac7cc9a609d1ef7b2932899cde41b97");
    CHECK(keystream(key128, 16, 16) == "5248c4959014126a6e8a84f11d1a9e1c");

    tools::byte_buffer text = {'p', 'l', 'a', 'i', 'n'}, data = text;
    tools::rc4_crypt(key128, data);
    CHECK(data != text);
    tools::rc4_crypt(key128, data);
    CHECK(data == text);
    tools::rc4_crypt(tools::byte_buffer(), data);  // no key: nothing changes
    CHECK(data == text);
}
