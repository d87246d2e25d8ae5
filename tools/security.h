// Security descriptors in text and binary form, and the test for the built-in Guests group.
#pragma once
#include "text.h"

#include <string>

namespace tools {

// The self-relative binary form of an SDDL text, as hexadecimal text (for registration scripts).
std::wstring sddl_to_hex(const wchar_t* sddl);

// The SID of the built-in Guests group.
byte_buffer guests_sid();

// Whether the calling thread's effective token is a member of the built-in Guests group.
bool is_guest_user();

}  // namespace tools
