#include "wizard/dispatch_event_sink.h"

#include "tools/hresult.h"

#include <exdisp.h>

namespace {

// DWebBrowserEvents2
const IID kBrowserEvents = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

}  // namespace

CDispatchEventSink::CDispatchEventSink(DISPID dispid, bool as_mask, IDispatch* handler, FullCallback full,
                                       Callback simple, void* context)
    : dispid_(dispid), as_mask_(as_mask), handler_(handler), full_(full), simple_(simple), context_(context) {
    if (handler_) handler_->AddRef();
}

CDispatchEventSink::~CDispatchEventSink() {
    Disconnect();
    if (handler_) handler_->Release();
}

STDMETHODIMP_(ULONG) CDispatchEventSink::Release() {
    LONG count = --references_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CDispatchEventSink::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kBrowserEvents) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

void CDispatchEventSink::Connect(IUnknown* source) {
    if (!source) throw static_cast<long>(E_POINTER);
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) throw static_cast<long>(hr);
    if (!container) throw static_cast<long>(E_POINTER);
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(kBrowserEvents, &point);
    container->Release();
    if (FAILED(hr)) throw static_cast<long>(hr);
    if (!point) throw static_cast<long>(E_POINTER);
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
    if (FAILED(hr)) {
        point->Release();
        throw static_cast<long>(hr);
    }
    point_ = point;
    cookie_ = cookie;
}

void CDispatchEventSink::Disconnect() {
    if (!point_) return;
    IConnectionPoint* point = point_;
    point_ = nullptr;
    point->Unadvise(cookie_);
    point->Release();
}

STDMETHODIMP CDispatchEventSink::Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) {
    bool match = as_mask_ ? (dispid & dispid_) != 0 : dispid == dispid_;
    if (!match) return E_NOTIMPL;
    // Keeps the sink alive while a callback disconnects it.
    AddRef();
    HRESULT hr = tools::com_boundary([&]() -> HRESULT {
        if (handler_) return handler_->Invoke(dispid, iid, locale, flags, params, result, exception, bad_argument);
        if (full_) return full_(context_, this, dispid, iid, locale, flags, params, result, exception, bad_argument);
        if (simple_) simple_(context_, this);
        return S_OK;
    });
    Release();
    return hr;
}

CDispatchEventSink* CreateDispatchEventSink(IUnknown* source, DISPID dispid, CDispatchEventSink::Callback callback,
                                            void* context) {
    auto sink = new CDispatchEventSink(dispid, false, nullptr, nullptr, callback, context);
    try {
        sink->Connect(source);
    } catch (...) {
        sink->Release();
        throw;
    }
    return sink;
}
