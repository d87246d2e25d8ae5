// The interfaces between the wizard's frame and its step pages.
#pragma once
#include <windows.h>

class CWizardValues;

// Offered by the wizard frame to its pages.
class IWizardHost {
public:
    virtual CWizardValues* GetValues() = 0;
    virtual void Reserved() = 0;
    virtual void SetNextText(const wchar_t* text) = 0;
    virtual void EnableCancel(bool enable) = 0;
    virtual void EnableNext(bool enable) = 0;
    virtual void EnablePrevious(bool enable) = 0;
    virtual void Cancel() = 0;
    virtual void GetPageRect(RECT* rect) = 0;
    virtual void ShowStep(int step) = 0;
    virtual void Close() = 0;

protected:
    ~IWizardHost() = default;
};

// Implemented by each step page.
class IWizardPage {
public:
    virtual void OnSetActive(IWizardHost* host) = 0;
    virtual void OnKillActive() = 0;
    virtual void Reserved() = 0;
    virtual void OnNext() = 0;
    virtual bool CanLeave(bool back) = 0;
    virtual HWND GetDialog() = 0;
    virtual const wchar_t* GetTitle() = 0;
    virtual const wchar_t* GetDescription() = 0;

protected:
    ~IWizardPage() = default;
};
