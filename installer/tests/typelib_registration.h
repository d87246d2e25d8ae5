// Registers the build's type library for one test and removes the registration afterwards.
#pragma once
#include <windows.h>
#include <oleauto.h>

namespace installer_testing {

class typelib_registration {
public:
    typelib_registration();
    ~typelib_registration();
    typelib_registration(const typelib_registration&) = delete;
    typelib_registration& operator=(const typelib_registration&) = delete;
    HRESULT result() const { return hr_; }

private:
    ITypeLib* lib_ = nullptr;
    HRESULT hr_ = E_FAIL;
};

}  // namespace installer_testing
