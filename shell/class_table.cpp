#include "class_table.h"

#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include "overlay_identifiers.h"
#include "storage_context_menu.h"
#include "storage_prop_sheet.h"
#include "storage_shell_folder.h"

namespace shell {

namespace {

const ShellClass classes[] = {
    {&CLSID_StorageShellFolder, &CreateStorageShellFolder},
    {&CLSID_StoragePropSheet, &CStoragePropSheet::Create},
    {&CLSID_StorageContextMenu, &CStorageContextMenu::Create},
    {&CLSID_FrozenOverlay, &CFrozenOverlay::Create},
    {&CLSID_InaccessibleOverlay, &CInaccessibleOverlay::Create},
    {&CLSID_KeyOverlay, &CKeyOverlay::Create},
};

}  // namespace

std::span<const ShellClass> ShellClasses() noexcept { return classes; }

const ShellClass* FindShellClass(REFCLSID clsid) noexcept {
    for (const ShellClass& entry : classes)
        if (IsEqualCLSID(*entry.clsid, clsid)) return &entry;
    return nullptr;
}

IUnknown* CreateShellObject(REFCLSID clsid, std::vector<IID>* interfaces) {
    const ShellClass* entry = FindShellClass(clsid);
    if (!entry) _com_issue_error(CLASS_E_CLASSNOTAVAILABLE);
    return CreateShellObject(*entry, interfaces);
}

IUnknown* CreateShellObject(const ShellClass& entry, std::vector<IID>* interfaces) {
    if (!entry.create) _com_issue_error(CLASS_E_CLASSNOTAVAILABLE);
    if (interfaces) interfaces->clear();
    IUnknown* object = entry.create(interfaces);
    if (!object) _com_issue_error(E_OUTOFMEMORY);
    return object;
}

}  // namespace shell
