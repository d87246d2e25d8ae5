#include "text.h"
#include "com_error.h"
#include "win_except.h"

#include <rpc.h>
#include <cwchar>
#include <cstring>
#include <stdexcept>

namespace tools {

// Sized by a length query first: double-byte code pages need more than one byte per character.
std::string to_narrow(const wchar_t* text) {
    int n = static_cast<int>(wcslen(text));
    if (n == 0) return {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, n, out.data(), bytes, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

std::wstring to_wide(const char* text) {
    int n = static_cast<int>(strlen(text));
    std::wstring out(static_cast<size_t>(n) + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, n, out.data(), n + 1);
    out.resize(wcslen(out.c_str()));
    return out;
}

GUID new_guid() {
    GUID g;
    RPC_STATUS status = UuidCreate(&g);
    if (status != RPC_S_OK) throw win_except(static_cast<DWORD>(status));
    return g;
}

std::wstring guid_to_string(const GUID& guid) {
    LPOLESTR text = nullptr;
    HRESULT hr = StringFromIID(guid, &text);
    if (FAILED(hr)) _com_issue_error(hr);
    CharUpperW(text);
    std::wstring out(text);
    CoTaskMemFree(text);
    return out;
}

GUID string_to_guid(const wchar_t* text) {
    GUID g;
    HRESULT hr = IIDFromString(const_cast<LPOLESTR>(text), &g);
    if (FAILED(hr)) _com_issue_error(hr);
    return g;
}

void guid_xor_assign(GUID& a, const GUID& b) {
    a.Data1 ^= b.Data1;
    a.Data2 ^= b.Data2;
    a.Data3 ^= b.Data3;
    for (int i = 0; i < 8; ++i) a.Data4[i] ^= b.Data4[i];
}

GUID guid_xor(const GUID& a, const GUID& b) {
    GUID r = a;
    guid_xor_assign(r, b);
    return r;
}

namespace {
const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string base64_encode(const void* bytes, size_t n) {
    if (!bytes) throw std::invalid_argument("An argument is invalid");
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    size_t rest = n - i;
    if (rest) {
        unsigned v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        if (rest == 2) out += alphabet[(v >> 6) & 63];
    }
    return out;
}

byte_buffer base64_decode(const char* text) {
    if (!text) throw std::invalid_argument("An argument is invalid");
    byte_buffer out;
    size_t n = strlen(text);
    if (n == 0) return out;
    out.reserve(n);
    unsigned acc = 0;
    int bits = 0;
    for (size_t i = 0; i < n; ++i) {
        int v = sextet(static_cast<unsigned char>(text[i]));
        if (v < 0) continue;  // line breaks, padding and blanks are skipped
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::wstring bytes_to_hex(const void* bytes, size_t count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    std::wstring out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

}  // namespace tools
