// Stands in for FmtIdToPropStgName / PropStgNameToFmtId: the stream name of a property set.
#pragma once
#include <windows.h>
#include <string>

namespace platform {

// "\005" followed by the set's name: the two well-known summary sets by name, any other FMTID as
// 26 characters of radix 32 over its 128 bits, least significant bit first.
std::wstring property_set_stream_name(const GUID& fmtid);

// The inverse; false for a name that is not a property-set stream name.
bool property_set_fmtid(const wchar_t* stream_name, GUID* fmtid);

}  // namespace platform
