#include "global_mutex.h"
#include "win_except.h"

#include <sddl.h>

namespace tools {

auto_kernel_handle create_global_mutex() {
    PSECURITY_DESCRIPTOR raw = nullptr;
    check_win(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;WD)", SDDL_REVISION_1, &raw, nullptr));
    auto_local_memory descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), raw, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, TRUE, L"Global\\Orrisafe 3.0");
    if (!mutex) throw_last_error();
    return auto_kernel_handle(mutex);
}

}  // namespace tools
