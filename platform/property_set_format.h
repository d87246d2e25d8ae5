// Stands in for the serialization inside Wine's IPropertyStorage: the property-set stream format.
#pragma once
#include <windows.h>
#include <propidl.h>
#include <map>
#include <string>
#include <vector>

namespace platform {

// One property set as its stream holds it. Values are kept in their serialized form (type word,
// padding, data, padded to four bytes), so values of types we do not decode survive a rewrite.
struct property_set_image {
    GUID fmtid = GUID_NULL;
    CLSID clsid = CLSID_NULL;
    DWORD os_version = 0;
    WORD format_version = 1;
    UINT code_page = 1200;  // the Unicode code page
    std::map<PROPID, std::wstring> names;
    std::map<PROPID, std::vector<BYTE>> values;
};

constexpr PROPID dictionary_propid = 0;
constexpr PROPID code_page_propid = 1;
constexpr PROPID first_reserved_propid = 0x80000000;
// The largest set stream that is read; no write may make a set bigger than that.
constexpr size_t largest_property_set = size_t(64) << 20;

// A new empty Unicode set.
property_set_image new_property_set(const GUID& fmtid, const CLSID& clsid);

// Reads a whole set stream; STG_E_INVALIDHEADER for anything malformed. Never reads outside data.
HRESULT parse_property_set(const BYTE* data, size_t size, property_set_image& image);

// The stream's bytes for an image.
std::vector<BYTE> serialize_property_set(const property_set_image& image);

// A value in serialized form; DISP_E_BADVARTYPE for a type this layer does not write.
HRESULT encode_property_value(const PROPVARIANT& value, UINT code_page, std::vector<BYTE>& out);

// Whether a name can be stored in a set of that code page.
bool name_fits_code_page(const std::wstring& name, UINT code_page);

// The value back; DISP_E_BADVARTYPE for a type this layer does not read. out is VT_EMPTY on failure.
HRESULT decode_property_value(const std::vector<BYTE>& data, UINT code_page, PROPVARIANT* out);

}  // namespace platform
