#include "comment_codec.h"

#include <cwchar>
#include <tools/rc4.h>

std::string EncodeItemComment(const std::wstring& text, const tools::byte_buffer& content_key) {
    // The characters up to the terminating NUL, two bytes each, low byte first.
    size_t length = wcslen(text.c_str());
    tools::byte_buffer bytes;
    bytes.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<unsigned char>(text[i] & 0xFF));
        bytes.push_back(static_cast<unsigned char>(text[i] >> 8));
    }
    tools::rc4_crypt(content_key, bytes);
    return tools::base64_encode(bytes);
}

std::wstring DecodeItemComment(const std::string& stored, const tools::byte_buffer& content_key) {
    tools::byte_buffer bytes = tools::base64_decode(stored.c_str());
    tools::rc4_crypt(content_key, bytes);
    // A damaged value of odd length loses its last byte rather than reading past it.
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    return text;
}
