// The shell extension's six classes, in the order in which the DLL tests and registers them.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <span>
#include <vector>

namespace shell {

struct ShellClass {
    const CLSID* clsid;
    // Makes a new object holding one reference and, when `interfaces` is given, fills it with the interfaces
    // registration records for the class: the object's two interface tables in order, then the class's fixed
    // list, then IUnknown. Null while the class is not built: it then answers CLASS_E_CLASSNOTAVAILABLE.
    IUnknown* (*create)(std::vector<IID>* interfaces);
};

std::span<const ShellClass> ShellClasses() noexcept;

// The table's entry for a class, or null for a class that is not one of the six.
const ShellClass* FindShellClass(REFCLSID clsid) noexcept;

// A new object of the class (one reference, the caller's); throws the COM error CLASS_E_CLASSNOTAVAILABLE for a
// class that is not one of the six or is not built.
IUnknown* CreateShellObject(REFCLSID clsid, std::vector<IID>* interfaces = nullptr);
IUnknown* CreateShellObject(const ShellClass& entry, std::vector<IID>* interfaces = nullptr);

}  // namespace shell
