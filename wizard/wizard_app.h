// The wizard program's application object: start-up checks, then the wizard dialog.
#pragma once
#include "platform/dialog_framework.h"
#include "tools/auto_handle.h"

#include <windows.h>

class CWizardApp : public platform::application {
public:
    // Holds the product mutex and refuses Guests and Safe Mode; refusals and start-up errors end the process.
    CWizardApp();
    ~CWizardApp() override;

protected:
    bool init_instance() override;

private:
    // Held for the life of the process: it marks that a program of the product runs.
    tools::auto_kernel_handle mutex_;
};
