// Stands in for FmtIdToPropStgName / PropStgNameToFmtId: the stream name of a property set.
#include "property_set_name.h"
#include <cstring>

namespace platform {
namespace {

const wchar_t alphabet[] = L"abcdefghijklmnopqrstuvwxyz012345";
constexpr int name_chars = 26;  // ceil(128 / 5)

const GUID summary_information = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
const GUID document_summary_information = {0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
const GUID user_defined_properties = {0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
const wchar_t summary_name[] = L"\005SummaryInformation";
const wchar_t document_summary_name[] = L"\005DocumentSummaryInformation";

int bit_of(const unsigned char* bytes, int bit) { return bit < 128 ? (bytes[bit / 8] >> (bit % 8)) & 1 : 0; }

int digit_value(wchar_t c) {
    if (c >= L'a' && c <= L'z') return c - L'a';
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'0' && c <= L'5') return 26 + (c - L'0');
    return -1;
}

}  // namespace

std::wstring property_set_stream_name(const GUID& fmtid) {
    if (IsEqualGUID(fmtid, summary_information)) return summary_name;
    if (IsEqualGUID(fmtid, document_summary_information) || IsEqualGUID(fmtid, user_defined_properties))
        return document_summary_name;
    unsigned char bytes[16];
    std::memcpy(bytes, &fmtid, sizeof bytes);
    std::wstring name(1, L'\005');
    for (int k = 0; k < name_chars; ++k) {
        int first = 5 * k, value = 0;
        for (int b = 0; b < 5; ++b) value |= bit_of(bytes, first + b) << b;
        wchar_t c = alphabet[value];
        // A character that starts on a byte boundary is written in upper case, as the platform does.
        if (first % 8 == 0 && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        name += c;
    }
    return name;
}

bool property_set_fmtid(const wchar_t* stream_name, GUID* fmtid) {
    if (!stream_name || !fmtid) return false;
    if (lstrcmpiW(stream_name, summary_name) == 0) {
        *fmtid = summary_information;
        return true;
    }
    if (lstrcmpiW(stream_name, document_summary_name) == 0) {
        *fmtid = document_summary_information;
        return true;
    }
    if (stream_name[0] != L'\005' || lstrlenW(stream_name) != 1 + name_chars) return false;
    unsigned char bytes[16] = {};
    for (int k = 0; k < name_chars; ++k) {
        int value = digit_value(stream_name[1 + k]);
        if (value < 0) return false;
        for (int b = 0; b < 5; ++b) {
            int bit = 5 * k + b;
            if (!((value >> b) & 1)) continue;
            if (bit >= 128) return false;  // the last character carries only three bits
            bytes[bit / 8] |= static_cast<unsigned char>(1 << (bit % 8));
        }
    }
    std::memcpy(fmtid, bytes, sizeof bytes);
    return true;
}

}  // namespace platform
