// Stands in for the dialog framework's ActiveX control containment (the control site), which MinGW does not have.
#pragma once
#include <windows.h>
#include <ole2.h>

namespace platform {

// Hosts one in-place active ActiveX control over a rectangle of a window. The site is owned by its
// window's object (not by COM references): destroy() deactivates and releases the control.
class ole_control_site : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    ole_control_site() = default;
    virtual ~ole_control_site();
    ole_control_site(const ole_control_site&) = delete;
    ole_control_site& operator=(const ole_control_site&) = delete;

    // Creates the control and activates it in place; returns the failing HRESULT (nothing is kept then).
    HRESULT create(HWND parent, const RECT& rect, REFCLSID clsid);
    void destroy();
    void move(const RECT& rect);
    void show(bool visible);
    // The control's IUnknown (not AddRef'd), null when none.
    IUnknown* control() const { return control_; }
    // The control's own window, null when it has none.
    HWND control_window() const;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override;
    STDMETHODIMP GetContainer(IOleContainer** out) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (of the in-place site and the frame)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                  RECT* clip, OLEINPLACEFRAMEINFO* info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(const RECT* rect) override;

    // IOleInPlaceUIWindow and IOleInPlaceFrame: the dialog has no menus or tool space.
    STDMETHODIMP GetBorder(RECT*) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(const RECT*) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(const RECT*) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(MSG*, WORD) override { return S_FALSE; }

protected:
    // Further interfaces of a derived site (for example the document host's); S_OK with *out set, AddRef'd.
    virtual HRESULT query_site_interface(REFIID iid, void** out) { return E_NOINTERFACE; }

private:
    HWND parent_ = nullptr;
    RECT rect_{};
    IUnknown* control_ = nullptr;
    IOleObject* object_ = nullptr;
    ULONG references_ = 1;
};

}  // namespace platform
