// A small shell browser of the tests' own: a top-level window that shows one folder's view, as Explorer would, and
// answers CWM_GETISHELLBROWSER with itself. (Wine's own browser control binds a folder by its ID list again, which
// never reaches a folder rooted at a file.)
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <tools/com_object.h>
#include <tools/interface_holder.h>

namespace shell_testing {

class test_shell_browser final : public tools::com_object<IShellBrowser> {
public:
    // A visible window at the screen's top left with the caption, not yet showing anything.
    test_shell_browser(const wchar_t* caption, int width, int height);
    ~test_shell_browser() override;

    // Shows the folder's view in details mode; the HRESULT of the first step that failed.
    HRESULT Show(IShellFolder* folder);
    // Closes the view (its window is destroyed and the view released).
    void Close();
    HWND window() const noexcept { return window_; }
    // The view's list, null when none is shown.
    HWND List() const;

    // Only what a view needs of its browser.
    STDMETHODIMP GetWindow(HWND* out) override { return *out = window_, S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return S_OK; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return S_FALSE; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream** out) override { return *out = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT, HWND* out) override { return *out = nullptr, E_NOTIMPL; }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT* result) override;
    STDMETHODIMP QueryActiveShellView(IShellView** out) override;
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return S_OK; }

private:
    static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    HWND window_ = nullptr;
    tools::interface_holder<IShellView> view_;
    HWND view_window_ = nullptr;
};

// Serves this thread's window messages for about the time given.
void PumpMessages(DWORD ms);

}  // namespace shell_testing
