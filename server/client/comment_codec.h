// The stored form of an item's comment: its UTF-16LE bytes (no terminator) passed through RC4 under the
// storage's content key, then base64. An empty key leaves the bytes as they are.
#pragma once
#include <string>
#include <tools/text.h>

std::string EncodeItemComment(const std::wstring& text, const tools::byte_buffer& content_key);
// Another key than the one that stored the comment gives other characters, not an error.
std::wstring DecodeItemComment(const std::string& stored, const tools::byte_buffer& content_key);
