#include "shell_browser.h"

#include <shlguid.h>

namespace shell {

namespace {

constexpr UINT get_shell_browser_message = WM_USER + 7;  // CWM_GETISHELLBROWSER

template <class Interface>
tools::interface_holder<Interface> query_service(IUnknown* object, REFGUID service) {
    tools::interface_holder<Interface> found;
    if (!object) return found;
    tools::interface_holder<IServiceProvider> provider;
    if (FAILED(object->QueryInterface(IID_IServiceProvider, provider.put_void()))) return found;
    if (FAILED(provider->QueryService(service, __uuidof(Interface), found.put_void()))) found.reset();
    return found;
}

void refresh_active_view(IShellBrowser* browser) {
    if (!browser) return;
    tools::interface_holder<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.put())) || !view)
        view = query_service<IShellView>(browser, SID_SFolderView);
    if (view) view->Refresh();
}

}  // namespace

tools::interface_holder<IShellBrowser> GetWindowBrowser(HWND window) {
    DWORD process = 0;
    if (!window || !GetWindowThreadProcessId(window, &process) || process != GetCurrentProcessId()) return {};
    auto* browser = reinterpret_cast<IShellBrowser*>(SendMessageW(window, get_shell_browser_message, 0, 0));
    return tools::interface_holder<IShellBrowser>::add_ref(browser);
}

tools::interface_holder<IShellBrowser> GetFolderBrowser(IUnknown* site, HWND window) {
    if (site) return query_service<IShellBrowser>(site, IID_IShellBrowser);
    return GetWindowBrowser(window);
}

void RefreshFolderView(IUnknown* site, HWND window) { refresh_active_view(GetFolderBrowser(site, window).get()); }

void RefreshWindowView(HWND window) { refresh_active_view(GetWindowBrowser(window).get()); }

HWND GetFolderOwnerWindow(HWND window, IUnknown* site) {
    if (window) return window;
    if (auto browser = query_service<IShellBrowser>(site, IID_IShellBrowser)) {
        HWND browser_window = nullptr;
        if (SUCCEEDED(browser->GetWindow(&browser_window)) && browser_window) return browser_window;
    }
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(GetCurrentThreadId(), &info)) return info.hwndActive;
    return GetActiveWindow();
}

}  // namespace shell
