// The wizard's one window: four step pages, the buttons that move between them, and the value map.
#pragma once
#include "platform/dialog_framework.h"
#include "tools/com_initializer.h"
#include "wizard/key_properties_page.h"
#include "wizard/storage_pages.h"
#include "wizard/summary_page.h"
#include "wizard/wizard_interfaces.h"
#include "wizard/wizard_values.h"

#include <string>

class CWizardDlg : public platform::dialog, public IWizardHost {
public:
    // command_line_path: the storage path the wizard was started with, or empty.
    explicit CWizardDlg(std::wstring command_line_path);
    ~CWizardDlg() override;

    // IWizardHost
    CWizardValues* GetValues() override { return &values_; }
    void Reserved() override {}
    void SetNextText(const wchar_t* text) override;
    void EnableCancel(bool enable) override;
    void EnableNext(bool enable) override;
    void EnablePrevious(bool enable) override;
    void Cancel() override;
    void GetPageRect(RECT* rect) override;
    void ShowStep(int step) override;
    void Close() override;

    IWizardPage* CurrentPage() const { return current_; }
    void PaintHeader(HWND header, HDC dc);

protected:
    bool on_init_dialog() override;
    bool on_command(int id, int code) override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
    void on_ok() override {}
    void on_cancel() override { Cancel(); }

private:
    void ShowPage(IWizardPage* page, bool back);
    IWizardPage* Step(int step);
    int StepOf(IWizardPage* page) const;
    void LoadBanner();
    bool HandleGlass(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
    void PaintGlass();
    void ShowHeaderControls(bool show);

    // First in, last out: the pages and the hosted browser control live inside it.
    tools::com_initializer ole_{tools::com_threading::ole};
    ULONG_PTR gdiplus_token_ = 0;
    WNDPROC header_proc_ = nullptr;
    CWizardValues values_;
    HFONT title_font_;
    HFONT description_font_;
    int banner_width_ = 90;
    int banner_height_ = 30;
    IStream* banner_ = nullptr;
    HICON icon_;
    IWizardPage* current_ = nullptr;
    CConfirmedPaths confirmed_;
    CStoragePage storage_page_;
    CKeyFilePage key_file_page_;
    CKeyPropertiesPage key_properties_page_;
    CSummaryPage summary_page_;
    std::wstring command_line_path_;

    friend LRESULT CALLBACK HeaderWndProc(HWND, UINT, WPARAM, LPARAM);
};

// The command-line storage path: the first argument when there is one, else empty.
std::wstring WizardCommandLinePath(const std::vector<std::wstring>& arguments);
