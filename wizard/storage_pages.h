// Steps 1 and 2 of the wizard: where the new storage file goes, and how and where its key is kept.
#pragma once
#include "wizard/wizard_page.h"

class CStoragePage : public CWizardPageBase {
public:
    explicit CStoragePage(CConfirmedPaths& confirmed);

    // Puts a path into the edit as if typed.
    void SetPath(const std::wstring& path);

    void OnSetActive(IWizardHost* host) override;
    void OnNext() override;
    bool CanLeave(bool back) override { return true; }

protected:
    bool on_init_dialog() override;
    bool on_command(int id, int code) override;
    bool IsWhiteControl(int id) const override;

private:
    void UpdateState();
    CConfirmedPaths& confirmed_;
};

class CKeyFilePage : public CWizardPageBase {
public:
    explicit CKeyFilePage(CConfirmedPaths& confirmed);

    // The wizard was started with a storage path: Previous stays disabled on this step.
    void SetStartedWithPath(bool started) { started_with_path_ = started; }

    void OnSetActive(IWizardHost* host) override;
    void OnNext() override;
    bool CanLeave(bool back) override { return true; }

protected:
    bool on_init_dialog() override;
    bool on_command(int id, int code) override;
    bool IsWhiteControl(int id) const override;

private:
    void UpdateState();
    void SetOption(int32_t option);
    CConfirmedPaths& confirmed_;
    bool started_with_path_ = false;
    int32_t option_ = 2;
};

// Attaches shell autocompletion of file-system paths to a path edit. Where it can't be attached the
// edit stays writable: typing a path must always remain possible.
void AttachPathAutoComplete(HWND edit);
