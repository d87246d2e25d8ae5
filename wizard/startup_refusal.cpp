#include "wizard/wizard_app.h"

const wchar_t* StartupRefusal(bool guest, bool safe_mode) {
    if (guest) return L"You can not start this application under the Guest account.";
    if (safe_mode) return L"You can not start this application because Windows is loaded in Safe Mode.";
    return nullptr;
}
