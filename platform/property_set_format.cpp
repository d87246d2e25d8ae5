// Stands in for the serialization inside Wine's IPropertyStorage: the property-set stream format.
#include "property_set_format.h"
#include <algorithm>
#include <cstring>

namespace platform {
namespace {

constexpr WORD byte_order_mark = 0xFFFE;
constexpr UINT unicode_code_page = 1200;
constexpr size_t header_size = 28;               // byte order, version, system, CLSID, set count
constexpr size_t set_entry_size = 20;            // FMTID and offset
constexpr DWORD system_identifier = 0x00020106;  // Win32, version 6.1

size_t round4(size_t n) { return (n + 3) & ~size_t(3); }

WORD get16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD get32(const BYTE* p) { return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24); }

void put16(std::vector<BYTE>& out, WORD v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}
void put32(std::vector<BYTE>& out, DWORD v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void put_bytes(std::vector<BYTE>& out, const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    out.insert(out.end(), b, b + n);
}
void pad4(std::vector<BYTE>& out, size_t from) {
    while ((out.size() - from) % 4) out.push_back(0);
}
void set32(std::vector<BYTE>& out, size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(v >> (8 * i));
}

// Bytes of the fixed-size types; 0 for the empty ones, -1 for types that are not fixed-size.
int fixed_size(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY: case VT_NULL: return 0;
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_FILETIME: return 8;
        case VT_CLSID: return 16;
        default: return -1;
    }
}

// Text whose stored size counts its terminator's unit (two bytes in a Unicode set, one in a code-page set).
// That unit is dropped whatever it holds: some writers leave a stray byte there instead of NUL. NULs before
// it belong to the text.
HRESULT read_counted_text(const BYTE* data, size_t bytes, UINT code_page, std::wstring& text) {
    text.clear();
    const size_t unit = code_page == unicode_code_page ? sizeof(wchar_t) : 1;
    if (bytes < unit) return S_OK;
    bytes -= unit;
    if (code_page == unicode_code_page) {
        text.resize(bytes / sizeof(wchar_t));
        if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
    } else if (bytes) {
        int n = MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(data), static_cast<int>(bytes), nullptr, 0);
        if (n <= 0) return STG_E_INVALIDHEADER;
        text.resize(n);
        MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(data), static_cast<int>(bytes), text.data(), n);
    }
    return S_OK;
}

// Measures (and with out, decodes) the value at p, of which avail bytes belong to the set.
// S_OK: known type, used is its padded length. DISP_E_BADVARTYPE: a type we do not decode.
HRESULT decode_at(const BYTE* p, size_t avail, UINT code_page, PROPVARIANT* out, size_t* used) {
    if (avail < 4) return STG_E_INVALIDHEADER;
    VARTYPE vt = get16(p);
    int fixed = fixed_size(vt);
    if (fixed >= 0) {
        if (static_cast<size_t>(fixed) > avail - 4) return STG_E_INVALIDHEADER;
        *used = round4(4 + fixed);
        if (!out) return S_OK;
        if (vt == VT_CLSID) {
            auto* id = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
            if (!id) return E_OUTOFMEMORY;
            std::memcpy(id, p + 4, sizeof(CLSID));
            out->puuid = id;
        } else if (fixed) {
            std::memcpy(&out->bVal, p + 4, fixed);
        }
        out->vt = vt;
        return S_OK;
    }
    if (vt != VT_BSTR && vt != VT_LPWSTR && vt != VT_BLOB) return DISP_E_BADVARTYPE;
    if (avail < 8) return STG_E_INVALIDHEADER;
    size_t count = get32(p + 4);
    size_t bytes = count;
    if (vt == VT_LPWSTR) {
        if (count > (avail - 8) / 2) return STG_E_INVALIDHEADER;
        bytes = count * 2;
    }
    if (bytes > avail - 8) return STG_E_INVALIDHEADER;
    if (vt == VT_BSTR && code_page == unicode_code_page && bytes % 2) return STG_E_INVALIDHEADER;
    *used = round4(8 + bytes);
    if (!out) return S_OK;
    const BYTE* data = p + 8;
    if (vt == VT_BLOB) {
        BYTE* copy = nullptr;
        if (bytes) {
            copy = static_cast<BYTE*>(CoTaskMemAlloc(bytes));
            if (!copy) return E_OUTOFMEMORY;
            std::memcpy(copy, data, bytes);
        }
        out->blob.cbSize = static_cast<ULONG>(bytes);
        out->blob.pBlobData = copy;
        out->vt = VT_BLOB;
        return S_OK;
    }
    std::wstring text;
    HRESULT hr = read_counted_text(data, bytes, vt == VT_LPWSTR ? unicode_code_page : code_page, text);
    if (FAILED(hr)) return hr;
    if (vt == VT_LPWSTR) {
        auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
        if (!copy) return E_OUTOFMEMORY;
        std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        out->pwszVal = copy;
    } else {
        BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!copy) return E_OUTOFMEMORY;
        out->bstrVal = copy;
    }
    out->vt = vt;
    return S_OK;
}

HRESULT to_code_page(const wchar_t* text, size_t length, UINT code_page, std::string& out) {
    out.clear();
    if (!length) return S_OK;
    int n = WideCharToMultiByte(code_page, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return STG_E_INVALIDPARAMETER;
    out.resize(n);
    WideCharToMultiByte(code_page, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return S_OK;
}

HRESULT parse_dictionary(const BYTE* p, size_t avail, UINT code_page, std::map<PROPID, std::wstring>& names) {
    if (avail < 4) return STG_E_INVALIDHEADER;
    size_t entries = get32(p), at = 4;
    if (entries > (avail - 4) / 8) return STG_E_INVALIDHEADER;
    for (size_t i = 0; i < entries; ++i) {
        if (avail - at < 8) return STG_E_INVALIDHEADER;
        PROPID id = get32(p + at);
        size_t length = get32(p + at + 4);
        at += 8;
        std::wstring name;
        // A Unicode name's length counts characters, a code-page name's bytes; either counts the terminator.
        size_t bytes = length;
        if (code_page == unicode_code_page) {
            if (length > (avail - at) / 2) return STG_E_INVALIDHEADER;
            bytes = length * 2;
        } else if (length > avail - at) {
            return STG_E_INVALIDHEADER;
        }
        HRESULT hr = read_counted_text(p + at, bytes, code_page, name);
        if (FAILED(hr)) return hr;
        at += bytes;
        if (code_page == unicode_code_page) at = std::min(round4(at), avail);
        name.resize(wcsnlen(name.c_str(), name.size()));  // a name ends at its first NUL
        if (name.empty()) continue;
        if (!names.emplace(id, std::move(name)).second) return STG_E_INVALIDHEADER;
    }
    return S_OK;
}

}  // namespace

property_set_image new_property_set(const GUID& fmtid, const CLSID& clsid) {
    property_set_image image;
    image.fmtid = fmtid;
    image.clsid = clsid;
    image.os_version = system_identifier;
    return image;
}

HRESULT parse_property_set(const BYTE* data, size_t size, property_set_image& image) {
    image = property_set_image();
    if (!data || size < header_size + set_entry_size) return STG_E_INVALIDHEADER;
    if (get16(data) != byte_order_mark || get16(data + 2) > 1) return STG_E_INVALIDHEADER;
    image.format_version = get16(data + 2);
    image.os_version = get32(data + 4);
    std::memcpy(&image.clsid, data + 8, sizeof(CLSID));
    DWORD sets = get32(data + 24);
    if (sets == 0) return STG_E_INVALIDHEADER;
    if (sets > 1) return STG_E_UNIMPLEMENTEDFUNCTION;  // only the two summary sets share a stream
    std::memcpy(&image.fmtid, data + header_size, sizeof(GUID));
    size_t offset = get32(data + header_size + 16);
    if (offset < header_size + set_entry_size || offset > size || size - offset < 8) return STG_E_INVALIDHEADER;
    const BYTE* section = data + offset;
    size_t section_size = get32(section), count = get32(section + 4);
    // A writer may leave out the padding after the last value (Wine does); more than that is damage.
    if (section_size > size - offset && section_size - (size - offset) < 4) section_size = size - offset;
    if (section_size < 8 || section_size > size - offset) return STG_E_INVALIDHEADER;
    if (count > (section_size - 8) / 8) return STG_E_INVALIDHEADER;

    std::map<PROPID, size_t> offsets;
    for (size_t i = 0; i < count; ++i) {
        PROPID id = get32(section + 8 + 8 * i);
        size_t at = get32(section + 12 + 8 * i);
        if (at < 8 + 8 * count || at >= section_size) return STG_E_INVALIDHEADER;
        if (!offsets.emplace(id, at).second) return STG_E_INVALIDHEADER;
    }
    // The code page decides how the strings and the dictionary are read.
    image.code_page = CP_ACP;
    if (auto cp = offsets.find(code_page_propid); cp != offsets.end()) {
        size_t at = cp->second;
        if (section_size - at < 8 || get16(section + at) != VT_I2) return STG_E_INVALIDHEADER;
        image.code_page = get16(section + at + 4);
    }
    // Where each value ends at the latest: the next value's start, found without walking every entry.
    std::vector<size_t> starts;
    starts.reserve(offsets.size());
    for (const auto& entry : offsets) starts.push_back(entry.second);
    std::sort(starts.begin(), starts.end());
    for (auto [id, at] : offsets) {
        if (id == code_page_propid) continue;
        size_t avail = section_size - at;
        if (id == dictionary_propid) {
            HRESULT hr = parse_dictionary(section + at, avail, image.code_page, image.names);
            if (FAILED(hr)) return hr;
            continue;
        }
        size_t used = 0;
        HRESULT hr = decode_at(section + at, avail, image.code_page, nullptr, &used);
        if (hr == DISP_E_BADVARTYPE) {
            // Kept as it stands, up to the next value or the end of the set.
            auto next = std::upper_bound(starts.begin(), starts.end(), at);
            used = next == starts.end() ? avail : *next - at;
            if (used < 4) return STG_E_INVALIDHEADER;
        } else if (FAILED(hr)) {
            return hr;
        }
        if (used > avail) used = avail;  // the last value's padding may be missing
        std::vector<BYTE> value(section + at, section + at + used);
        value.resize(round4(value.size()), 0);
        image.values.emplace(id, std::move(value));
    }
    return S_OK;
}

std::vector<BYTE> serialize_property_set(const property_set_image& image) {
    std::vector<BYTE> out;
    put16(out, byte_order_mark);
    put16(out, image.format_version);
    put32(out, image.os_version);
    put_bytes(out, &image.clsid, sizeof(CLSID));
    put32(out, 1);
    put_bytes(out, &image.fmtid, sizeof(GUID));
    put32(out, static_cast<DWORD>(header_size + set_entry_size));

    size_t section = out.size();
    size_t count = 1 + (image.names.empty() ? 0 : 1) + image.values.size();
    put32(out, 0);  // size, set below
    put32(out, static_cast<DWORD>(count));
    size_t table = out.size();
    out.resize(out.size() + 8 * count, 0);
    size_t slot = 0;
    auto begin_value = [&](PROPID id) {
        set32(out, table + 8 * slot, id);
        set32(out, table + 8 * slot + 4, static_cast<DWORD>(out.size() - section));
        ++slot;
    };

    if (!image.names.empty()) {
        begin_value(dictionary_propid);
        size_t start = out.size();
        put32(out, static_cast<DWORD>(image.names.size()));
        for (const auto& [id, name] : image.names) {
            put32(out, id);
            if (image.code_page == unicode_code_page) {
                put32(out, static_cast<DWORD>(name.size() + 1));
                put_bytes(out, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
                pad4(out, start);
            } else {
                std::string narrow;
                to_code_page(name.c_str(), name.size(), image.code_page, narrow);  // checked when the name was written
                put32(out, static_cast<DWORD>(narrow.size() + 1));
                put_bytes(out, narrow.c_str(), narrow.size() + 1);
            }
        }
        pad4(out, start);
    }
    begin_value(code_page_propid);
    put16(out, VT_I2);
    put16(out, 0);
    put16(out, static_cast<WORD>(image.code_page));
    put16(out, 0);
    for (const auto& [id, value] : image.values) {
        begin_value(id);
        put_bytes(out, value.data(), value.size());
        pad4(out, section);
    }
    set32(out, section, static_cast<DWORD>(out.size() - section));
    return out;
}

HRESULT encode_property_value(const PROPVARIANT& value, UINT code_page, std::vector<BYTE>& out) {
    out.clear();
    put16(out, value.vt);
    put16(out, 0);
    int fixed = fixed_size(value.vt);
    if (value.vt == VT_CLSID) {
        if (!value.puuid) return STG_E_INVALIDPARAMETER;
        put_bytes(out, value.puuid, sizeof(CLSID));
    } else if (fixed >= 0) {
        put_bytes(out, &value.bVal, fixed);
    } else if (value.vt == VT_BSTR) {
        UINT length = value.bstrVal ? SysStringLen(value.bstrVal) : 0;
        if (code_page == unicode_code_page) {
            put32(out, (length + 1) * sizeof(wchar_t));
            if (length) put_bytes(out, value.bstrVal, length * sizeof(wchar_t));
            put16(out, 0);
        } else {
            std::string narrow;
            HRESULT hr = to_code_page(value.bstrVal, length, code_page, narrow);
            if (FAILED(hr)) return hr;
            put32(out, static_cast<DWORD>(narrow.size() + 1));
            put_bytes(out, narrow.c_str(), narrow.size() + 1);
        }
    } else if (value.vt == VT_LPWSTR) {
        size_t length = value.pwszVal ? wcslen(value.pwszVal) : 0;
        put32(out, static_cast<DWORD>(length + 1));
        if (length) put_bytes(out, value.pwszVal, length * sizeof(wchar_t));
        put16(out, 0);
    } else if (value.vt == VT_BLOB) {
        if (value.blob.cbSize && !value.blob.pBlobData) return STG_E_INVALIDPARAMETER;
        put32(out, value.blob.cbSize);
        if (value.blob.cbSize) put_bytes(out, value.blob.pBlobData, value.blob.cbSize);
    } else {
        out.clear();
        return DISP_E_BADVARTYPE;
    }
    pad4(out, 0);
    return S_OK;
}

bool name_fits_code_page(const std::wstring& name, UINT code_page) {
    if (code_page == unicode_code_page) return true;
    std::string narrow;
    return SUCCEEDED(to_code_page(name.c_str(), name.size(), code_page, narrow)) && !narrow.empty();
}

HRESULT decode_property_value(const std::vector<BYTE>& data, UINT code_page, PROPVARIANT* out) {
    PropVariantInit(out);
    size_t used = 0;
    HRESULT hr = decode_at(data.data(), data.size(), code_page, out, &used);
    if (FAILED(hr)) PropVariantClear(out);
    return hr;
}

}  // namespace platform
