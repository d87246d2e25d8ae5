#include "security.h"
#include "auto_handle.h"
#include "win_except.h"

#include <sddl.h>

namespace tools {

std::wstring sddl_to_hex(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    ULONG size = 0;
    check_win(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, &size));
    auto_local_memory descriptor(raw);
    return bytes_to_hex(raw, size);
}

byte_buffer file_security(const wchar_t* path) {
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path, parts, nullptr, 0, &size);
    if (size == 0) throw_last_error();
    byte_buffer descriptor(size);
    check_win(GetFileSecurityW(path, parts, descriptor.data(), size, &size));
    return descriptor;
}

byte_buffer guests_sid() {
    DWORD size = 0;
    CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, nullptr, &size);
    if (size == 0) throw_last_error();
    byte_buffer sid(size);
    check_win(CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, sid.data(), &size));
    sid.resize(size);
    return sid;
}

bool is_guest_user() {
    byte_buffer sid = guests_sid();
    BOOL member = FALSE;
    check_win(CheckTokenMembership(nullptr, sid.data(), &member));
    return member != FALSE;
}

}  // namespace tools
