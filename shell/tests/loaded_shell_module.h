// orrishell.dll from the distribution folder, loaded by path as a host loads it, with its two entries that hosts call.
#pragma once
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <server/tests/service_fixture.h>
#include <tools/interface_holder.h>

namespace shell_testing {

using get_class_object_entry = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using can_unload_entry = HRESULT(STDAPICALLTYPE*)();

class loaded_module {
public:
    loaded_module() : module_(LoadLibraryW(service_testing::dist_file(L"orrishell.dll").c_str())) {
        REQUIRE(module_);
        get_class_object = reinterpret_cast<get_class_object_entry>(GetProcAddress(module_, "DllGetClassObject"));
        can_unload = reinterpret_cast<can_unload_entry>(GetProcAddress(module_, "DllCanUnloadNow"));
        REQUIRE(reinterpret_cast<void*>(get_class_object) != nullptr);
        REQUIRE(reinterpret_cast<void*>(can_unload) != nullptr);
    }
    ~loaded_module() { FreeLibrary(module_); }
    loaded_module(const loaded_module&) = delete;
    loaded_module& operator=(const loaded_module&) = delete;
    HMODULE get() const { return module_; }

    // A new object of the class, asked for the interface; empty when the class or interface is not there.
    template <class Interface>
    tools::interface_holder<Interface> create(REFCLSID clsid, REFIID iid) const {
        tools::interface_holder<IClassFactory> factory;
        tools::interface_holder<Interface> object;
        if (get_class_object(clsid, IID_IClassFactory, factory.put_void()) == S_OK)
            factory->CreateInstance(nullptr, iid, object.put_void());
        return object;
    }

    get_class_object_entry get_class_object = nullptr;
    can_unload_entry can_unload = nullptr;

private:
    HMODULE module_;
};

}  // namespace shell_testing
