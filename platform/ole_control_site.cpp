// Stands in for the dialog framework's ActiveX control containment (the control site), which MinGW does not have.
#include "platform/ole_control_site.h"

namespace platform {

ole_control_site::~ole_control_site() {
    destroy();
}

HRESULT ole_control_site::create(HWND parent, const RECT& rect, REFCLSID clsid) {
    destroy();
    parent_ = parent;
    rect_ = rect;
    IUnknown* control = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) return hr;
    IOleObject* object = nullptr;
    hr = control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object));
    if (SUCCEEDED(hr)) hr = object->SetClientSite(this);
    if (SUCCEEDED(hr)) hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, parent, &rect_);
    if (FAILED(hr)) {
        if (object) {
            object->Close(OLECLOSE_NOSAVE);
            object->SetClientSite(nullptr);
            object->Release();
        }
        control->Release();
        return hr;
    }
    control_ = control;
    object_ = object;
    return S_OK;
}

void ole_control_site::destroy() {
    if (object_) {
        IOleInPlaceObject* in_place = nullptr;
        if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
            in_place->InPlaceDeactivate();
            in_place->Release();
        }
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        object_->Release();
        object_ = nullptr;
    }
    if (control_) {
        control_->Release();
        control_ = nullptr;
    }
}

HWND ole_control_site::control_window() const {
    HWND window = nullptr;
    IOleWindow* ole_window = nullptr;
    if (control_ && SUCCEEDED(control_->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&ole_window)))) {
        ole_window->GetWindow(&window);
        ole_window->Release();
    }
    return window;
}

void ole_control_site::move(const RECT& rect) {
    rect_ = rect;
    IOleInPlaceObject* in_place = nullptr;
    if (control_ && SUCCEEDED(control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&in_place)))) {
        in_place->SetObjectRects(&rect_, &rect_);
        in_place->Release();
    }
}

void ole_control_site::show(bool visible) {
    if (HWND window = control_window()) ShowWindow(window, visible ? SW_SHOW : SW_HIDE);
}

STDMETHODIMP ole_control_site::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
        *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
        *out = static_cast<IOleInPlaceFrame*>(this);
    else
        return query_site_interface(iid, out);
    AddRef();
    return S_OK;
}

STDMETHODIMP ole_control_site::GetMoniker(DWORD, DWORD, IMoniker** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ole_control_site::GetContainer(IOleContainer** out) {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ole_control_site::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = parent_;
    return S_OK;
}

STDMETHODIMP ole_control_site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                                RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *frame = this;
    AddRef();
    *document = nullptr;
    *position = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(parent_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP ole_control_site::OnPosRectChange(const RECT* rect) {
    if (rect) move(*rect);
    return S_OK;
}

}  // namespace platform
