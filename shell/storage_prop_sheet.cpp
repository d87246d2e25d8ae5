#include "storage_prop_sheet.h"

#include <prsht.h>

#include <tools/hresult.h>
#include <tools/interface_holder.h>
#include "storage_at_path.h"
#include "storage_selection.h"
#include "tools_page.h"

#include <server/client/storage_properties.h>
#include "storage_unlock.h"

IUnknown* CStoragePropSheet::Create(std::vector<IID>* interfaces) {
    if (interfaces) *interfaces = {IID_IShellExtInit, IID_IShellPropSheetExt, IID_IUnknown};
    return static_cast<IShellExtInit*>(new CStoragePropSheet);
}

void* CStoragePropSheet::query_own_interface(REFIID iid) {
    if (IsEqualIID(iid, IID_IShellExtInit)) return static_cast<IShellExtInit*>(this);
    if (IsEqualIID(iid, IID_IShellPropSheetExt)) return static_cast<IShellPropSheetExt*>(this);
    return nullptr;
}

STDMETHODIMP CStoragePropSheet::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY) {
    return tools::com_boundary([&] {
        path_ = shell::SelectedStoragePath(folder, data);
        shell::StorageCommandState state = shell::ReadStorageCommandState(path_);
        frozen_ = state.frozen;
        storage_id_ = state.storage_id;
        installed_key_ = std::move(state.installed_key);
        flags_ = state.flags;
    });
}

STDMETHODIMP CStoragePropSheet::AddPages(LPFNSVADDPROPSHEETPAGE add, LPARAM parameter) {
    if (!add) return E_INVALIDARG;
    return tools::com_boundary([&] {
        HPROPSHEETPAGE page = shell::CreateToolsPage(this);
        if (!page) return E_OUTOFMEMORY;
        if (add(page, parameter)) return S_OK;
        // The page lets the handler go when it is destroyed.
        DestroyPropertySheetPage(page);
        return E_OUTOFMEMORY;
    });
}

STDMETHODIMP CStoragePropSheet::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }

void CStoragePropSheet::RereadKeyState() {
    auto root = shell::OpenStorageAtPath(path_);
    ULONGLONG flags = GetStorageFlags(root.get());
    tools::auto_cert_context installed = FindInstalledKey(root.get());
    flags_ = flags;
    installed_key_ = std::move(installed);
}
