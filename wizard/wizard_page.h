// What the wizard's step pages share: a child dialog on a white background that implements IWizardPage.
#pragma once
#include "platform/dialog_framework.h"
#include "wizard/wizard_interfaces.h"
#include "wizard/wizard_values.h"

#include <set>
#include <string>

// Paths that the user already agreed to replace in a save dialog's overwrite prompt.
class CConfirmedPaths {
public:
    void Add(const std::wstring& path) { paths_.insert(Key(path)); }
    bool Contains(const std::wstring& path) const { return paths_.count(Key(path)) != 0; }

private:
    static std::wstring Key(const std::wstring& path);
    std::set<std::wstring> paths_;
};

class CWizardPageBase : public platform::dialog, public IWizardPage {
public:
    CWizardPageBase(UINT template_id, const wchar_t* title, const wchar_t* description)
        : dialog(template_id), title_(title), description_(description) {}

    void OnKillActive() override {}
    void Reserved() override {}
    HWND GetDialog() override { return hwnd(); }
    const wchar_t* GetTitle() override { return title_; }
    const wchar_t* GetDescription() override { return description_; }

protected:
    IWizardHost* host() const { return host_; }
    void set_host(IWizardHost* host) { host_ = host; }
    // Esc on a page asks the wizard's exit question.
    void on_cancel() override;
    // Enter on a page is the wizard's default button.
    void on_ok() override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
    // Whether a static control is painted on the white background (labels, group boxes, radios).
    virtual bool IsWhiteControl(int id) const = 0;

    // A save-file dialog owned by the page; returns the chosen path or an empty text.
    std::wstring BrowseForSave(const std::wstring& current, const wchar_t* default_extension,
                               const wchar_t* filter_with_bars);

private:
    const wchar_t* title_;
    const wchar_t* description_;
    IWizardHost* host_ = nullptr;
};
