// Step 3 of the wizard: the subject, password and end date of the new key.
#pragma once
#include "wizard/wizard_page.h"

class CKeyPropertiesPage : public CWizardPageBase {
public:
    CKeyPropertiesPage();
    ~CKeyPropertiesPage() override;

    void OnSetActive(IWizardHost* host) override;
    void OnNext() override;
    bool CanLeave(bool back) override;

    // Scrolls the page just enough to show the control whole (called when one of its fields gains the focus).
    void ScrollIntoView(HWND control);

protected:
    bool on_init_dialog() override;
    bool on_command(int id, int code) override;
    bool on_notify(NMHDR* header, LRESULT& result) override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
    bool IsWhiteControl(int id) const override;

private:
    void UpdateState();
    void ShowPasswordBalloon(bool warning);
    void ScrollTo(int position);

    HBRUSH red_;
    HBRUSH yellow_;
    HBRUSH green_;
    int client_height_ = 0;
};

// The default end date of a new key: the given time ten years later; 29 February becomes 28 February.
SYSTEMTIME DefaultKeyEndDate(const SYSTEMTIME& now);
