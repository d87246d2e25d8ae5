// The context menu handler of storage files: freeze and unfreeze, defragmentation and the "Manage key" submenu,
// each offered as the storage's state allows when the shell initialised the handler.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include <tools/auto_handle.h>
#include <tools/com_object.h>
#include "id_list.h"
#include "module_lock.h"

class CStorageContextMenu final : public tools::com_object<IShellExtInit>, public IContextMenu {
public:
    CStorageContextMenu() = default;

    // IUnknown (one identity, through the base)
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return com_object::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return com_object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return com_object::Release(); }

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY program_key) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, LPSTR buffer, UINT size) override;

    // A new handler for the class table (one reference, the caller's); fills the interfaces it registers.
    static IUnknown* Create(std::vector<IID>* interfaces);

protected:
    void* query_own_interface(REFIID iid) override;

private:
    void Run(UINT command, HWND owner);

    shell::CModuleLock module_lock_;
    CIdList folder_;
    std::wstring path_;
    tools::auto_cert_context installed_key_;
    ULONGLONG flags_ = 0;
    bool frozen_ = false;
};
