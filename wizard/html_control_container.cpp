#include "wizard/html_control_container.h"

#include <cwchar>

CHtmlControlContainer::~CHtmlControlContainer() {
    destroy();
    if (external_) external_->Release();
}

void CHtmlControlContainer::SetExternal(IDispatch* external) {
    if (external) external->AddRef();
    if (external_) external_->Release();
    external_ = external;
}

HRESULT CHtmlControlContainer::query_site_interface(REFIID iid, void** out) {
    if (iid == IID_IDocHostUIHandler)
        *out = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IOleCommandTarget)
        *out = static_cast<IOleCommandTarget*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP CHtmlControlContainer::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return E_POINTER;
    info->cbSize = sizeof(DOCHOSTUIINFO);
    info->dwFlags = host_flags_;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

STDMETHODIMP CHtmlControlContainer::TranslateAccelerator(LPMSG message, const GUID*, DWORD) {
    // Ctrl+O (open) and Ctrl+L (location) would navigate away from the summary.
    if (message && message->message == WM_KEYDOWN && (GetKeyState(VK_CONTROL) & 0x8000)) {
        WPARAM key = message->wParam;
        if (key == static_cast<WPARAM>(LOBYTE(VkKeyScanW(L'o'))) || key == static_cast<WPARAM>(LOBYTE(VkKeyScanW(L'l'))))
            return S_OK;
    }
    return S_FALSE;
}

STDMETHODIMP CHtmlControlContainer::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (!key) return E_POINTER;
    static const wchar_t kPath[] = L"Sofware\\Pellmoor";
    *key = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof(kPath)));
    if (!*key) return E_OUTOFMEMORY;
    memcpy(*key, kPath, sizeof(kPath));
    return S_OK;
}

STDMETHODIMP CHtmlControlContainer::GetDropTarget(IDropTarget*, IDropTarget** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CHtmlControlContainer::GetExternal(IDispatch** out) {
    if (!out) return E_POINTER;
    *out = external_;
    if (!external_) return E_NOTIMPL;
    external_->AddRef();
    return S_OK;
}

STDMETHODIMP CHtmlControlContainer::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
    if (out) *out = nullptr;
    return S_FALSE;
}

STDMETHODIMP CHtmlControlContainer::FilterDataObject(IDataObject*, IDataObject** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CHtmlControlContainer::Exec(const GUID*, DWORD command, DWORD, VARIANT*, VARIANT*) {
    // The browser's own dialogs (script errors included) are never shown.
    return command == 66 ? OLECMDERR_E_NOTSUPPORTED : S_OK;
}
