// orrishell.dll as a host meets it: loaded by path, its class objects asked for, unloaded when it says so.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <server/idl/storage_identities.h>
#include <shell/class_table.h>
#include <tools/interface_holder.h>

#include "loaded_shell_module.h"

using namespace shell_testing;

namespace {

const CLSID shell_classes[] = {CLSID_StorageShellFolder, CLSID_StoragePropSheet,  CLSID_StorageContextMenu,
                               CLSID_FrozenOverlay,      CLSID_InaccessibleOverlay, CLSID_KeyOverlay};

}  // namespace

TEST_CASE("the DLL exports its entries by their plain names and holds the product mutex while loaded") {
    loaded_module dll;
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        CHECK_MESSAGE(reinterpret_cast<void*>(GetProcAddress(dll.get(), name)) != nullptr, name);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Orrisafe 3.0");
    CHECK(mutex != nullptr);
    if (mutex) CloseHandle(mutex);
    CHECK(dll.can_unload() == S_OK);
}

TEST_CASE("class objects: the six classes have one, others none, and each holds the module while alive") {
    loaded_module dll;
    void* out = reinterpret_cast<void*>(1);
    CHECK(dll.get_class_object(CLSID_StorageServer, IID_IClassFactory, &out) == CLASS_E_CLASSNOTAVAILABLE);
    CHECK(out == nullptr);
    CHECK(dll.get_class_object(CLSID_StorageShellFolder, IID_IClassFactory, nullptr) == E_POINTER);
    out = reinterpret_cast<void*>(1);
    CHECK(dll.get_class_object(CLSID_KeyOverlay, IID_IStream, &out) == E_NOINTERFACE);
    CHECK(out == nullptr);
    CHECK(dll.can_unload() == S_OK);

    for (const CLSID& clsid : shell_classes) {
        tools::interface_holder<IClassFactory> factory;
        REQUIRE(dll.get_class_object(clsid, IID_IClassFactory, factory.put_void()) == S_OK);
        CHECK(dll.can_unload() == S_FALSE);
        // A class that is whole makes its object, which holds the module while it lives; the others answer that
        // they are not available. The outer unknown is not looked at.
        const bool whole = shell::FindShellClass(clsid)->create != nullptr;
        for (IUnknown* outer : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(factory.get())}) {
            tools::interface_holder<IUnknown> object;
            HRESULT made = factory->CreateInstance(outer, IID_IUnknown, object.put_void());
            CHECK(made == (whole ? S_OK : CLASS_E_CLASSNOTAVAILABLE));
            CHECK(!!object == whole);
            tools::interface_holder<IUnknown> other;
            if (whole) CHECK(factory->CreateInstance(outer, IID_IStream, other.put_void()) == E_NOINTERFACE);
            factory.reset();
            CHECK(dll.can_unload() == (whole ? S_FALSE : S_OK));
            object.reset();
            REQUIRE(dll.get_class_object(clsid, IID_IClassFactory, factory.put_void()) == S_OK);
        }
        CHECK(factory->CreateInstance(nullptr, IID_IUnknown, nullptr) == E_POINTER);
        factory.reset();
        CHECK(dll.can_unload() == S_OK);
    }

    // A LockServer(TRUE) outlives the factory that took it.
    tools::interface_holder<IClassFactory> factory;
    REQUIRE(dll.get_class_object(CLSID_StorageShellFolder, IID_IClassFactory, factory.put_void()) == S_OK);
    CHECK(factory->LockServer(TRUE) == S_OK);
    factory.reset();
    CHECK(dll.can_unload() == S_FALSE);
    tools::interface_holder<IUnknown> unknown;
    REQUIRE(dll.get_class_object(CLSID_StorageShellFolder, IID_IUnknown, unknown.put_void()) == S_OK);
    REQUIRE(unknown->QueryInterface(IID_IClassFactory, factory.put_void()) == S_OK);
    unknown.reset();
    CHECK(factory->LockServer(FALSE) == S_OK);
    factory.reset();
    CHECK(dll.can_unload() == S_OK);
}
