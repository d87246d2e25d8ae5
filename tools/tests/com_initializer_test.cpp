#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <string>
#include <thread>

#include <tools/com_error.h>
#include <tools/com_initializer.h>

namespace {

// Whether the calling thread joined a single-threaded apartment (0), the multithreaded one (1), or none (-1).
int apartment() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier{};
    if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return -1;
    return type == APTTYPE_MTA ? 1 : 0;
}

// Runs body on a thread of its own; doctest's checks stay on the test's thread.
template <class Body>
void on_own_thread(Body body) {
    std::thread(body).join();
}

}  // namespace

TEST_CASE("the COM initialiser joins the thread for its life, nests, and leaves only what it joined") {
    HRESULT outer = E_FAIL, inner = E_FAIL, other = E_FAIL, thrown = S_OK;
    int after_inner = -1, after_other = -1, after_all = 0;
    std::wstring description;
    on_own_thread([&] {
        {
            tools::com_initializer sta;
            outer = sta.result();
            inner = tools::com_initializer().result();
            after_inner = apartment();
            tools::com_initializer mta(tools::com_threading::multithreaded);
            other = mta.result();
            try {
                mta.check();
            } catch (const _com_error& e) {
                thrown = e.Error();
                if (IErrorInfo* info = e.ErrorInfo()) {
                    BSTR text = nullptr;
                    if (SUCCEEDED(info->GetDescription(&text)) && text) description = text;
                    SysFreeString(text);
                    info->Release();
                }
            }
            after_other = apartment();
        }
        after_all = apartment();
    });
    CHECK(outer == S_OK);
    CHECK(inner == S_FALSE);
    CHECK(after_inner == 0);  // the nested one undid its own count only
    // Another threading model is refused, thrown with a text that says why, and leaves the apartment as it was.
    CHECK(other == RPC_E_CHANGED_MODE);
    CHECK(thrown == RPC_E_CHANGED_MODE);
    CHECK(description.find(L"single-threaded") != std::wstring::npos);
    CHECK(after_other == 0);
    CHECK(after_all == -1);

    HRESULT ole_on_mta = S_OK, clipboard = CO_E_NOTINITIALIZED;
    on_own_thread([&] {
        tools::com_initializer mta(tools::com_threading::multithreaded);
        ole_on_mta = tools::com_initializer(tools::com_threading::ole).result();
    });
    on_own_thread([&] {
        tools::com_initializer ole(tools::com_threading::ole);
        outer = ole.result();
        // OLE's own services answer: the clipboard is there.
        IDataObject* data = nullptr;
        clipboard = OleGetClipboard(&data);
        if (data) data->Release();
    });
    CHECK(ole_on_mta == RPC_E_CHANGED_MODE);
    CHECK(outer == S_OK);
    CHECK(clipboard != CO_E_NOTINITIALIZED);
}
