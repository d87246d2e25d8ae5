// Security descriptors in text and binary form, a file's own, and the test for the built-in Guests group.
#pragma once
#include "text.h"

#include <string>

namespace tools {

// The self-relative binary form of an SDDL text, as hexadecimal text (for registration scripts).
std::wstring sddl_to_hex(const wchar_t* sddl);

// A file's owner, group and access list, self-relative, read as the calling thread (which needs READ_CONTROL).
// A failure throws win_except.
byte_buffer file_security(const wchar_t* path);

// The SID of the built-in Guests group.
byte_buffer guests_sid();

// Whether the calling thread's effective token is a member of the built-in Guests group.
bool is_guest_user();

}  // namespace tools
