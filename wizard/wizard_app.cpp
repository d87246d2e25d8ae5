#include "wizard/wizard_app.h"

#include "tools/program_start.h"
#include "wizard/wizard_dlg.h"

#include <commctrl.h>

namespace {

const wchar_t kCaption[] = L"Orrisafe Wizard";

}  // namespace

CWizardApp::CWizardApp() : mutex_(tools::start_or_end_process(kCaption)) {}

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
