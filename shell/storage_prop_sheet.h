// The property sheet handler of storage files: one page, "Orrisafe tools", with the storage's key management,
// defragmentation and freezing commands as buttons, enabled as the storage's state allows.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include <tools/auto_handle.h>
#include <tools/com_object.h>
#include "module_lock.h"

class CStoragePropSheet final : public tools::com_object<IShellExtInit>, public IShellPropSheetExt {
public:
    CStoragePropSheet() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return com_object::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return com_object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return com_object::Release(); }

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY program_key) override;

    // IShellPropSheetExt: the page holds the handler from its creation until the sheet releases the page.
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE add, LPARAM parameter) override;
    STDMETHODIMP ReplacePage(EXPPS page, LPFNSVADDPROPSHEETPAGE replace, LPARAM parameter) override;

    static IUnknown* Create(std::vector<IID>* interfaces);

    // What the page shows and acts on.
    const std::wstring& Path() const noexcept { return path_; }
    bool Frozen() const noexcept { return frozen_; }
    void SetFrozen(bool frozen) noexcept { frozen_ = frozen; }
    bool KeyInstalled() const noexcept { return static_cast<bool>(installed_key_); }
    ULONGLONG Flags() const noexcept { return flags_; }
    void SetPageWindow(HWND window) noexcept { page_window_ = window; }
    // Reads the flags and the installed key again; failures throw and leave both as they were.
    void RereadKeyState();

protected:
    void* query_own_interface(REFIID iid) override;

private:
    shell::CModuleLock module_lock_;
    std::wstring path_;
    tools::auto_cert_context installed_key_;
    GUID storage_id_ = GUID_NULL;
    HWND page_window_ = nullptr;
    ULONGLONG flags_ = 0;
    bool frozen_ = false;
};
