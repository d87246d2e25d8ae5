// Text conversions, GUID text and XOR, base64 and hex of byte buffers.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace tools {

// Keys, digests and file contents travel in this.
using byte_buffer = std::vector<unsigned char>;

std::string to_narrow(const wchar_t* text);
std::wstring to_wide(const char* text);
inline std::string to_narrow(const std::wstring& text) { return to_narrow(text.c_str()); }
inline std::wstring to_wide(const std::string& text) { return to_wide(text.c_str()); }

GUID new_guid();
std::wstring guid_to_string(const GUID& guid);
GUID string_to_guid(const wchar_t* text);
void guid_xor_assign(GUID& a, const GUID& b);
GUID guid_xor(const GUID& a, const GUID& b);

std::string base64_encode(const void* bytes, size_t count);
inline std::string base64_encode(const byte_buffer& bytes) { return base64_encode(bytes.data() ? bytes.data() : reinterpret_cast<const unsigned char*>(""), bytes.size()); }
byte_buffer base64_decode(const char* text);

std::wstring bytes_to_hex(const void* bytes, size_t count);
inline std::wstring bytes_to_hex(const byte_buffer& bytes) { return bytes_to_hex(bytes.data(), bytes.size()); }

}  // namespace tools
