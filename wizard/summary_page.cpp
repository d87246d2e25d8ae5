#include "wizard/summary_page.h"

#include "platform/dialog_framework.h"
#include "wizard/resource.h"
#include "wizard/summary_html.h"
#include "wizard/summary_view.h"

#include <exdisp.h>
#include <mshtml.h>

namespace {

// The web-browser control.
const CLSID kWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
const DISPID kDocumentComplete = 259;
const DISPID kNavigate = 104;
const DISPID kDocument = 203;

void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) throw static_cast<long>(hr);
}

template <class T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() { if (p) p->Release(); }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

}  // namespace

CSummaryPage::CSummaryPage(const CConfirmedPaths& confirmed)
    : CWizardPageBase(IDD_SUMMARY_PAGE, L"Step 4 - Summary", L"Verify the correctness of data inputted"),
      confirmed_(confirmed) {}

CSummaryPage::~CSummaryPage() {
    destroy();
}

bool CSummaryPage::on_init_dialog() {
    RECT area;
    GetWindowRect(item(IDC_BROWSER), &area);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&area), 2);
    view_ = CreateWindowExW(0, SummaryViewClass(), L"", WS_CHILD, area.left, area.top, area.right - area.left,
                            area.bottom - area.top, hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSummaryViewId)),
                            GetModuleHandleW(nullptr), nullptr);
    auto app = platform::application::current();
    if (app && app->control_container_enabled()) {
        has_browser_ = SUCCEEDED(browser_.create(hwnd(), area, kWebBrowser));
        if (has_browser_) browser_.show(false);
    }
    return false;
}

void CSummaryPage::on_destroyed() {
    DisconnectSink();
    browser_.destroy();
    has_browser_ = false;
}

void CSummaryPage::DisconnectSink() {
    if (!sink_) return;
    sink_->Disconnect();
    sink_->Release();
    sink_ = nullptr;
}

void CSummaryPage::OnSetActive(IWizardHost* host) {
    set_host(host);
    host->EnablePrevious(true);
    host->EnableNext(true);
    host->SetNextText(L"Finish");
    // The plain view shows the summary until the browser has rendered it.
    SetWindowTextW(view_, ::BuildSummaryHtml(*host->GetValues()).c_str());
    ShowWindow(view_, SW_SHOW);
    if (has_browser_) {
        browser_.show(false);
        try {
            Navigate();
        } catch (...) {
            DisconnectSink();
        }
    }
}

void CSummaryPage::Navigate() {
    DisconnectSink();
    sink_ = CreateDispatchEventSink(browser_.control(), kDocumentComplete, &CSummaryPage::BuildSummaryHtml, this);
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring url = std::wstring(L"res://") + module + L"/summary.htm";
    ComPtr<IDispatch> browser;
    ThrowIfFailed(browser_.control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&browser)));
    VARIANT arguments[5];
    for (auto& argument : arguments) VariantInit(&argument);
    // Arguments go in reverse order: the URL is the last one; the four optional ones stay empty.
    arguments[4].vt = VT_BSTR;
    arguments[4].bstrVal = SysAllocString(url.c_str());
    if (!arguments[4].bstrVal) throw static_cast<long>(E_OUTOFMEMORY);
    DISPPARAMS params{arguments, nullptr, 5, 0};
    HRESULT hr = browser->Invoke(kNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                 nullptr);
    VariantClear(&arguments[4]);
    ThrowIfFailed(hr);
}

void CSummaryPage::BuildSummaryHtml(void* context, CDispatchEventSink* sink) {
    auto page = static_cast<CSummaryPage*>(context);
    ComPtr<IDispatch> browser;
    ThrowIfFailed(page->browser_.control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&browser)));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT document;
    VariantInit(&document);
    ThrowIfFailed(browser->Invoke(kDocument, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &document,
                                  nullptr, nullptr));
    ComPtr<IHTMLDocument2> html;
    if (document.vt == VT_DISPATCH && document.pdispVal) {
        HRESULT hr = document.pdispVal->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&html));
        if (FAILED(hr) && hr != E_NOINTERFACE) {
            VariantClear(&document);
            throw static_cast<long>(hr);
        }
    }
    VariantClear(&document);
    if (!html.p) throw static_cast<long>(E_POINTER);
    std::wstring markup = ::BuildSummaryHtml(*page->host()->GetValues());
    BSTR text = SysAllocString(markup.c_str());
    if (!text) throw static_cast<long>(E_OUTOFMEMORY);
    ComPtr<IHTMLElement> body;
    HRESULT hr = html->get_body(&body);
    if (SUCCEEDED(hr) && !body.p) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = body->put_innerHTML(text);
    SysFreeString(text);
    ThrowIfFailed(hr);
    // The browser renders the table: it replaces the plain view.
    page->browser_.show(true);
    ShowWindow(page->view_, SW_HIDE);
    if (sink == page->sink_) page->DisconnectSink();
}
