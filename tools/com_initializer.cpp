#include "com_initializer.h"

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>

#include "com_error.h"

namespace tools {

com_initializer::com_initializer(com_threading threading) noexcept : threading_(threading) {
    switch (threading) {
        case com_threading::apartment: result_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); break;
        case com_threading::multithreaded: result_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED); break;
        case com_threading::ole: result_ = OleInitialize(nullptr); break;
        default: result_ = E_INVALIDARG; break;
    }
}

com_initializer::~com_initializer() {
    if (!ok()) return;
    if (threading_ == com_threading::ole) OleUninitialize();
    else CoUninitialize();
}

void com_initializer::check() const {
    if (ok()) return;
    IErrorInfo* info = nullptr;
    if (result_ == RPC_E_CHANGED_MODE) {
        // Not every system has a text for this code (Wine has none): say what happened.
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetDescription(const_cast<LPOLESTR>(
                threading_ == com_threading::multithreaded
                    ? L"This thread already belongs to a single-threaded COM apartment."
                    : L"This thread already belongs to the multithreaded COM apartment."));
            create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
            create->Release();
        }
    }
    throw _com_error(result_, info, false);
}

}  // namespace tools
