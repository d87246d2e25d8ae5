#include "program_start.h"

#include "global_mutex.h"
#include "security.h"
#include "text.h"

#include <exception>
#include <string>

namespace tools {

const wchar_t* startup_refusal(bool guest, bool safe_mode) {
    if (guest) return L"You can not start this application under the Guest account.";
    if (safe_mode) return L"You can not start this application because Windows is loaded in Safe Mode.";
    return nullptr;
}

auto_kernel_handle start_or_end_process(const wchar_t* error_caption) {
    try {
        auto_kernel_handle mutex = create_global_mutex();
        if (const wchar_t* refusal = startup_refusal(is_guest_user(), GetSystemMetrics(SM_CLEANBOOT) != 0)) {
            MessageBoxW(nullptr, refusal, L"Orrisafe", MB_OK | MB_ICONWARNING);
            ExitProcess(static_cast<UINT>(-1));
        }
        return mutex;
    } catch (const std::exception& e) {
        MessageBoxW(nullptr, (L"An error has occured:\n\n" + to_wide(e.what())).c_str(), error_caption,
                    MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
}

}  // namespace tools
