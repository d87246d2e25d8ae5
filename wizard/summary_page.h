// Step 4 of the wizard: the summary of what was entered, and Finish.
#pragma once
#include "wizard/dispatch_event_sink.h"
#include "wizard/html_control_container.h"
#include "wizard/wizard_page.h"

class CSummaryPage : public CWizardPageBase {
public:
    explicit CSummaryPage(const CConfirmedPaths& confirmed);
    ~CSummaryPage() override;

    void OnSetActive(IWizardHost* host) override;
    void OnNext() override { OnFinish(); }
    bool CanLeave(bool back) override { return true; }

    // The Finish step: creates the key and the storage, closes the wizard and offers to install the key.
    void OnFinish();

    // Writes the summary table into the browser's document once it is complete.
    static void BuildSummaryHtml(void* page, CDispatchEventSink* sink);

protected:
    bool on_init_dialog() override;
    bool IsWhiteControl(int id) const override { return true; }
    void on_destroyed() override;

private:
    void Navigate();
    void DisconnectSink();
    bool ConfirmReplace(const std::wstring& path);

    const CConfirmedPaths& confirmed_;
    CHtmlControlContainer browser_;
    bool has_browser_ = false;
    HWND view_ = nullptr;
    CDispatchEventSink* sink_ = nullptr;
};

// The identifier of the plain summary view on the page.
const int kSummaryViewId = 1041;
