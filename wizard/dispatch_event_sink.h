// A small IDispatch receiver for one event of a connection point (the browser's DocumentComplete).
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

class CDispatchEventSink : public IDispatch {
public:
    using FullCallback = HRESULT (*)(void* context, CDispatchEventSink* sink, DISPID, REFIID, LCID, WORD,
                                     DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*);
    using Callback = void (*)(void* context, CDispatchEventSink* sink);

    // dispid: the event listened for; as_mask: match any DISPID that shares a bit with it.
    CDispatchEventSink(DISPID dispid, bool as_mask, IDispatch* handler, FullCallback full, Callback simple, void* context);

    // Finds the source's DWebBrowserEvents2 connection point and advises; failures throw the HRESULT (as long).
    void Connect(IUnknown* source);
    void Disconnect();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* bad_argument) override;

private:
    virtual ~CDispatchEventSink();
    LONG references_ = 1;
    DISPID dispid_;
    bool as_mask_;
    IDispatch* handler_;
    FullCallback full_;
    Callback simple_;
    void* context_;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
};

// Builds a sink for one event with a callback and connects it to the source; the caller owns one reference.
CDispatchEventSink* CreateDispatchEventSink(IUnknown* source, DISPID dispid, CDispatchEventSink::Callback callback,
                                            void* context);
