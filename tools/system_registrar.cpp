#include "system_registrar.h"

#include <ole2.h>
#include "com_error.h"

namespace tools {

namespace {
void check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}
}  // namespace

interface_holder<platform::IRegistrar> create_system_registrar() {
    interface_holder<IUnknown> object;
    check(CoCreateInstance(platform::CLSID_Registrar, nullptr, CLSCTX_ALL, IID_IUnknown, object.put_void()));
    check(OleRun(object.get()));
    interface_holder<platform::IRegistrar> registrar;
    check(object->QueryInterface(platform::IID_IRegistrar, registrar.put_void()));
    return registrar;
}

}  // namespace tools
