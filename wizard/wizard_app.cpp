#include "wizard/wizard_app.h"

#include "tools/global_mutex.h"
#include "tools/security.h"
#include "tools/text.h"
#include "wizard/wizard_dlg.h"

#include <commctrl.h>
#include <exception>

namespace {

const wchar_t kCaption[] = L"Orrisafe Wizard";

}  // namespace

CWizardApp::CWizardApp() {
    try {
        mutex_ = tools::create_global_mutex();
        if (const wchar_t* refusal = StartupRefusal(tools::is_guest_user(), GetSystemMetrics(SM_CLEANBOOT) != 0)) {
            MessageBoxW(nullptr, refusal, L"Orrisafe", MB_OK | MB_ICONWARNING);
            ExitProcess(static_cast<UINT>(-1));
        }
    } catch (const std::exception& e) {
        MessageBoxW(nullptr, (L"An error has occured:\n\n" + tools::to_wide(e.what())).c_str(), kCaption,
                    MB_OK | MB_ICONERROR);
        ExitProcess(1);
    }
}

CWizardApp::~CWizardApp() = default;

bool CWizardApp::init_instance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
    InitCommonControlsEx(&controls);
    enable_control_container();
    set_registry_key(L"Local AppWizard-Generated Applications");
    {
        CWizardDlg wizard(WizardCommandLinePath(arguments()));
        wizard.do_modal(nullptr);
    }
    return false;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CWizardApp app;
    return app.run();
}
