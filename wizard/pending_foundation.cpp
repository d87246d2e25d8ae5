#include "wizard/pending_foundation.h"

#include "tools/win_except.h"

#include <sddl.h>

namespace tools {

HANDLE create_global_mutex() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    check_win(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, TRUE, L"Global\\Orrisafe 3.0");
    DWORD code = GetLastError();
    LocalFree(descriptor);
    if (!mutex) throw win_except(code);
    return mutex;
}

bool is_guest_user() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    check_win(CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, sid, &size));
    BOOL member = FALSE;
    check_win(CheckTokenMembership(nullptr, sid, &member));
    return member != FALSE;
}

void open_user_guide(const wchar_t* caption, HWND owner, HMODULE module) {
    MessageBoxW(owner, L"Unable to open help file.", caption, MB_ICONWARNING);
}

}  // namespace tools
