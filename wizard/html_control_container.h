// Makes the hosted browser control behave as part of a dialog: no border, no context menu, no navigation keys,
// no dialogs of its own.
#pragma once
#include "platform/ole_control_site.h"

#include <docobj.h>
#include <mshtmhst.h>

class CHtmlControlContainer : public platform::ole_control_site, public IDocHostUIHandler, public IOleCommandTarget {
public:
    CHtmlControlContainer() = default;
    ~CHtmlControlContainer() override;

    // IUnknown of the nested interfaces goes to the site's.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return ole_control_site::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return ole_control_site::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return ole_control_site::Release(); }

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override { return S_OK; }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG message, const GUID*, DWORD) override;
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override;
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override;
    STDMETHODIMP GetExternal(IDispatch** out) override;
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override;
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override;

    // IOleCommandTarget
    STDMETHODIMP QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) override { return OLECMDERR_E_UNKNOWNGROUP; }
    STDMETHODIMP Exec(const GUID*, DWORD command, DWORD, VARIANT*, VARIANT*) override;

    // Sets the object scripts reach as window.external (none in this program).
    void SetExternal(IDispatch* external);

protected:
    HRESULT query_site_interface(REFIID iid, void** out) override;

private:
    // DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME
    DWORD host_flags_ = 0x40005;
    IDispatch* external_ = nullptr;
};
