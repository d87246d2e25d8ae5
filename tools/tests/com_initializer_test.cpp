#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <string>
#include <thread>

#include <tools/com_error.h>
#include <tools/com_initializer.h>

namespace {

// The apartment the calling thread joined, or APTTYPE_CURRENT when it joined none.
APTTYPE apartment_type() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier{};
    if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA)
        return APTTYPE_CURRENT;
    return type;
}

bool single_threaded(APTTYPE type) { return type == APTTYPE_STA || type == APTTYPE_MAINSTA; }

// What a thread saw; checked on the test's own thread (doctest's checks stay off other threads).
struct observed {
    HRESULT outer = E_FAIL, inner = E_FAIL, other = E_FAIL, thrown = S_OK;
    APTTYPE after_inner = APTTYPE_CURRENT, after_other = APTTYPE_CURRENT, after_all = APTTYPE_MTA;
    std::wstring description;
};

template <class Body>
observed on_own_thread(Body body) {
    observed seen;
    std::thread thread([&] { body(seen); });
    thread.join();
    return seen;
}

}  // namespace

TEST_CASE("the COM initialiser joins the thread for its life, nests, and leaves only what it joined") {
    observed sta = on_own_thread([](observed& seen) {
        {
            tools::com_initializer outer;
            seen.outer = outer.result();
            {
                tools::com_initializer inner;
                seen.inner = inner.result();
            }
            seen.after_inner = apartment_type();
            {
                tools::com_initializer other(tools::com_threading::multithreaded);
                seen.other = other.result();
                try {
                    other.check();
                } catch (const _com_error& e) {
                    seen.thrown = e.Error();
                    if (IErrorInfo* info = e.ErrorInfo()) {
                        BSTR text = nullptr;
                        if (SUCCEEDED(info->GetDescription(&text)) && text) seen.description = text;
                        SysFreeString(text);
                        info->Release();
                    }
                }
            }
            seen.after_other = apartment_type();
        }
        seen.after_all = apartment_type();
    });
    CHECK(sta.outer == S_OK);
    CHECK(sta.inner == S_FALSE);
    // The inner one's end undid its own count only.
    CHECK(single_threaded(sta.after_inner));
    // Another threading model is refused, thrown with a text that says why, and its end leaves the thread's
    // apartment as it was.
    CHECK(sta.other == RPC_E_CHANGED_MODE);
    CHECK(sta.thrown == RPC_E_CHANGED_MODE);
    CHECK(sta.description.find(L"single-threaded") != std::wstring::npos);
    CHECK(single_threaded(sta.after_other));
    CHECK(sta.after_all == APTTYPE_CURRENT);

    observed mta = on_own_thread([](observed& seen) {
        tools::com_initializer outer(tools::com_threading::multithreaded);
        seen.outer = outer.result();
        seen.after_inner = apartment_type();
        tools::com_initializer ole(tools::com_threading::ole);
        seen.other = ole.result();
    });
    CHECK(mta.outer == S_OK);
    CHECK(mta.after_inner == APTTYPE_MTA);
    CHECK(mta.other == RPC_E_CHANGED_MODE);

    observed ole = on_own_thread([](observed& seen) {
        {
            tools::com_initializer outer(tools::com_threading::ole);
            seen.outer = outer.result();
            seen.after_inner = apartment_type();
            // OLE's own services answer: the clipboard is there.
            IDataObject* data = nullptr;
            seen.inner = OleGetClipboard(&data);
            if (data) data->Release();
        }
        seen.after_all = apartment_type();
    });
    CHECK(ole.outer == S_OK);
    CHECK(single_threaded(ole.after_inner));
    CHECK(ole.inner != CO_E_NOTINITIALIZED);
    CHECK(ole.after_all == APTTYPE_CURRENT);
}
