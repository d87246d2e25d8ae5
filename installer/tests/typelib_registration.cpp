#include "typelib_registration.h"

#include <string>

#include "installer_paths.h"

namespace installer_testing {

typelib_registration::typelib_registration() {
    std::wstring path = dist_file(L"orrisafe.tlb");
    hr_ = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib_);
    if (SUCCEEDED(hr_)) hr_ = RegisterTypeLib(lib_, path.data(), nullptr);
}

typelib_registration::~typelib_registration() {
    if (!lib_) return;
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(hr_) && SUCCEEDED(lib_->GetLibAttr(&attr))) {
        UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        lib_->ReleaseTLibAttr(attr);
    }
    lib_->Release();
}

}  // namespace installer_testing
