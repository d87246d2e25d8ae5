#include "test_shell_browser.h"

#include <string>

namespace shell_testing {

namespace {

constexpr wchar_t class_name[] = L"OrrisafeTestShellBrowser";
constexpr UINT get_shell_browser_message = WM_USER + 7;

BOOL CALLBACK find_list(HWND window, LPARAM found) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    if (std::wstring(name) != L"SysListView32") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

test_shell_browser::test_shell_browser(const wchar_t* caption, int width, int height) {
    WNDCLASSW type{};
    type.lpfnWndProc = &window_proc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.lpszClassName = class_name;
    RegisterClassW(&type);  // a second browser finds the class there already
    window_ = CreateWindowExW(0, class_name, caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width, height, nullptr,
                              nullptr, type.hInstance, this);
}

test_shell_browser::~test_shell_browser() {
    Close();
    if (window_) DestroyWindow(window_);
}

HRESULT test_shell_browser::Show(IShellFolder* folder) {
    HRESULT hr = folder->CreateViewObject(window_, IID_IShellView, view_.put_void());
    if (FAILED(hr)) return hr;
    RECT area;
    GetClientRect(window_, &area);
    FOLDERSETTINGS settings{FVM_DETAILS, 0};
    hr = view_->CreateViewWindow(nullptr, &settings, this, &area, &view_window_);
    if (FAILED(hr)) return hr;
    return view_->UIActivate(SVUIA_ACTIVATE_NOFOCUS);
}

void test_shell_browser::Close() {
    if (!view_) return;
    view_->UIActivate(SVUIA_DEACTIVATE);
    view_->DestroyViewWindow();
    view_.reset();
    view_window_ = nullptr;
}

HWND test_shell_browser::List() const {
    HWND found = nullptr;
    if (view_window_) EnumChildWindows(window_, find_list, reinterpret_cast<LPARAM>(&found));
    return found;
}

STDMETHODIMP test_shell_browser::SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    return S_OK;
}

STDMETHODIMP test_shell_browser::QueryActiveShellView(IShellView** out) {
    if (!out) return E_POINTER;
    *out = view_.get();
    if (!*out) return E_FAIL;
    (*out)->AddRef();
    return S_OK;
}

LRESULT CALLBACK test_shell_browser::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<test_shell_browser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == get_shell_browser_message && self) return reinterpret_cast<LRESULT>(static_cast<IShellBrowser*>(self));
    return DefWindowProcW(window, message, wparam, lparam);
}

void PumpMessages(DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace shell_testing
