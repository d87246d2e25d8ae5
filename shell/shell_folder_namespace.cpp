// The folder's namespace interfaces: what the shell asks of a folder to bind it, list it, name, classify and rename
// its items, and make its view.
#include "storage_shell_folder.h"

#include <shlwapi.h>

#include <platform/file_extract_icon.h>
#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "folder_view_callback.h"
#include "item_enumerator.h"
#include "item_menu.h"
#include "message_boxes.h"
#include "progress_window.h"
#include "storage_change_notify.h"
#include "storage_data_object.h"
#include "storage_item_id.h"
#include "storage_item_path.h"

namespace {

// Whether the user's shell setting hides file name extensions.
bool extensions_hidden() {
    SHELLFLAGSTATE state{};
    SHGetSettings(&state, SSF_SHOWEXTENSIONS);
    return !state.fShowExtensions;
}

void check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

// Our stand-in for the system's icon of an item not on disk, holding the module while it is out.
class CItemExtractIcon final : public platform::file_extract_icon {
public:
    using file_extract_icon::file_extract_icon;

private:
    shell::CModuleLock module_lock_;
};

HRESULT item_icon(const StorageItem& item, REFIID iid, void** out) {
    const DWORD attributes = item.type == FolderElementType ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    HRESULT hr = SHCreateFileExtractIconW(item.name, attributes, iid, out);
    if (hr != E_NOTIMPL) return hr;
    tools::interface_holder<IExtractIconW> icon(new CItemExtractIcon(item.name, attributes));
    return icon->QueryInterface(iid, out);
}

}  // namespace

// IPersistFolder2

STDMETHODIMP CStorageShellFolder::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_StorageShellFolder;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::Initialize(PCIDLIST_ABSOLUTE absolute) {
    return tools::com_boundary([&] {
        BindToWorker();
        return OpenStorage(absolute);
    });
}

STDMETHODIMP CStorageShellFolder::GetCurFolder(PIDLIST_ABSOLUTE* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!absolute_) return S_FALSE;
    *out = ILClone(absolute_.get());
    return *out ? S_OK : E_OUTOFMEMORY;
}

// IShellFolder

STDMETHODIMP CStorageShellFolder::ParseDisplayName(HWND, IBindCtx*, LPWSTR text, ULONG* eaten, PIDLIST_RELATIVE* out,
                                                   ULONG* attributes) {
    if (eaten) *eaten = 0;
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        const std::vector<std::wstring> parts = SplitPathText(text);
        if (parts.empty()) return E_FAIL;
        auto current = GetServer();
        CIdList parsed;
        long last_type = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            auto info = FindElementInfoOrThrow(current.get(), parts[i]);
            last_type = GetTypeOrThrow(info.get());
            CIdList record = BuildStorageItemId(info.get(), last_type);
            // Only the folders on the way are entered: the last part may be a file.
            if (i + 1 < parts.size()) current = OpenFolderOrThrow(current.get(), parts[i], VARIANT_FALSE);
            parsed = parsed ? CombineIdLists(parsed.get(), record.get()) : std::move(record);
        }
        if (attributes) *attributes &= last_type == FolderElementType ? folder_item_attributes : file_item_attributes;
        *out = parsed.detach();
        return S_OK;
    });
}

STDMETHODIMP CStorageShellFolder::EnumObjects(HWND, SHCONTF flags, IEnumIDList** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        GetStorageKey();
        auto server = GetServer();
        // Listed once, here: the enumerator then hands out copies and asks the server nothing.
        std::vector<CIdList> items;
        auto elements = EnumElementsOrThrow(server.get());
        while (auto info = NextOrThrow(elements.get())) {
            const long type = GetTypeOrThrow(info.get());
            if (((flags & SHCONTF_FOLDERS) && type == FolderElementType) ||
                ((flags & SHCONTF_NONFOLDERS) && type == FileElementType))
                items.push_back(BuildStorageItemId(info.get(), type));
        }
        if (items.empty()) return S_FALSE;
        *out = new CItemEnumerator(std::move(items));
        return S_OK;
    });
}

STDMETHODIMP CStorageShellFolder::BindToObject(PCUIDLIST_RELATIVE item, IBindCtx*, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        if (!absolute_) return E_FAIL;
        tools::interface_holder<IUnknown> probe;
        if (FAILED(QueryInterface(iid, probe.put_void()))) return E_NOINTERFACE;
        probe.reset();
        tools::interface_holder<CStorageShellFolder> child(
            root_ ? new CStorageShellFolder(GetFolderStorageId(), server_folder_.get(), absolute_.get())
                  : new CStorageShellFolder(inherited_storage_id_, root_server_folder_.get(), storage_root_.get()));
        CIdList full = FullIdListOf(item);
        HRESULT hr = child->Initialize(full.get());
        if (FAILED(hr)) return hr;
        return child->QueryInterface(iid, out);
    });
}

STDMETHODIMP CStorageShellFolder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CStorageShellFolder::CreateViewObject(HWND, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        if (IsEqualIID(iid, IID_IShellView)) {
            tools::interface_holder<CFolderViewCallback> callback(new CFolderViewCallback(this));
            SFV_CREATE create{};
            create.cbSize = sizeof(create);
            create.pshf = static_cast<IShellFolder*>(this);
            create.psfvcb = callback.get();
            tools::interface_holder<IShellView> view;
            HRESULT hr = SHCreateShellFolderView(&create, view.put());
            // A view that does not hold the callback will never let it go when it closes: the folder then stays
            // open until it is released itself.
            if (FAILED(hr) || !callback->HeldByOthers()) callback->Disown();
            if (FAILED(hr)) return hr;
            return view->QueryInterface(iid, out);
        }
        // The background menu and the drop target are the folder's own, for an unlocked storage only.
        if (IsEqualIID(iid, IID_IDropTarget) || IsEqualIID(iid, IID_IContextMenu)) {
            GetStorageKey();
            return QueryInterface(iid, out);
        }
        return E_NOINTERFACE;
    });
}

STDMETHODIMP CStorageShellFolder::GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* flags) {
    if (!flags) return E_POINTER;
    if (count && !items) return E_INVALIDARG;
    return tools::com_boundary([&] {
        UINT folders = 0, files = 0;
        for (UINT i = 0; i < count; ++i) {
            if (GetStorageItem(items[i])->type == FolderElementType)
                ++folders;
            else
                ++files;
        }
        if (*flags & SFGAO_VALIDATE) {
            auto server = GetServer();
            for (UINT i = 0; i < count; ++i) FindElementInfoOrThrow(server.get(), RelativePathText(items[i]));
        }
        *flags &= folders > 0 && files == 0 ? folder_item_attributes : file_item_attributes;
        if (count != 1) *flags &= ~(SFGAO_CANRENAME | SFGAO_HASPROPSHEET);
    });
}

STDMETHODIMP CStorageShellFolder::GetUIObjectOf(HWND window, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid, UINT*,
                                                void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        if (IsEqualIID(iid, IID_IExtractIconW)) {
            if (count != 1 || !items) return E_FAIL;
            return item_icon(*GetStorageItem(items[0]), iid, out);
        }
        if (IsEqualIID(iid, IID_IDropTarget)) return QueryInterface(iid, out);
        if (IsEqualIID(iid, IID_IContextMenu)) return ItemMenu(window, count, items, out);
        if (IsEqualIID(iid, IID_IDataObject)) return ItemsDataObject(count, items, out);
        return E_NOINTERFACE;
    });
}

HRESULT CStorageShellFolder::ItemMenu(HWND window, UINT count, PCUITEMID_CHILD_ARRAY items, void** out) {
    if (!absolute_) return E_FAIL;
    tools::interface_holder<IContextMenu> menu;
    HRESULT hr = CDefFolderMenu_Create2(absolute_.get(), window, count, items, static_cast<IShellFolder*>(this),
                                        &ItemMenuCallback, 0, nullptr, menu.put());
    if (FAILED(hr)) return hr;
    *out = menu.detach();
    return S_OK;
}

HRESULT CStorageShellFolder::ItemsDataObject(UINT count, PCUITEMID_CHILD_ARRAY items, void** out) {
    if (!absolute_) return E_FAIL;
    if (count && !items) return E_INVALIDARG;
    const ContentKey key = GetStorageKey();
    *out = static_cast<IDataObject*>(new CStorageDataObject(this, absolute_.get(), count, items, key));
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* out) {
    if (!out) return E_POINTER;
    return tools::com_boundary([&]() -> HRESULT {
        const StorageItem* last = LastStorageItem(item);
        const bool own_name = flags == SHGDN_NORMAL || (flags & (SHGDN_INFOLDER | SHGDN_FOREDITING));
        std::wstring text = own_name ? std::wstring(last->name)
                                     : FullParseName(StorageRootIdList(), FullIdListOf(item).get());
        if (text.empty()) return E_INVALIDARG;
        // A parsing name keeps its extension: without it, it would name another item, or none.
        if (last->type == FileElementType && !(flags & SHGDN_FORPARSING) && extensions_hidden()) {
            PathRemoveExtensionW(text.data());
            text.resize(wcslen(text.c_str()));
        }
        out->uType = STRRET_WSTR;
        check(SHStrDupW(text.c_str(), &out->pOleStr));
        return S_OK;
    });
}

STDMETHODIMP CStorageShellFolder::SetNameOf(HWND window, PCUITEMID_CHILD item, LPCWSTR name, SHGDNF flags,
                                            PITEMID_CHILD* out) {
    if (out) *out = nullptr;
    HRESULT hr = tools::com_boundary([&] { RenameItem(window, item, name, flags, out); });
    if (FAILED(hr)) shell::ShowErrorBox(window, static_cast<DWORD>(hr), L"Unable to rename selected item");
    return hr;
}

void CStorageShellFolder::RenameItem(HWND window, const ITEMIDLIST* item, const wchar_t* name, SHGDNF flags,
                                     ITEMIDLIST** out) {
    if (flags != SHGDN_NORMAL && !(flags & (SHGDN_INFOLDER | SHGDN_FOREDITING))) _com_issue_error(E_INVALIDARG);
    if (!name) _com_issue_error(E_INVALIDARG);
    const StorageItem* old_item = GetStorageItem(item);
    const std::wstring old_name = old_item->name;
    std::wstring new_name = name;
    // A file shown without its extension keeps it.
    if (old_item->type == FileElementType && extensions_hidden()) new_name += PathFindExtensionW(old_name.c_str());

    shell::progress_text_record parameters = shell::ShellProgress(6, window, L"Renaming...");
    parameters.cancel_disabled = 1;
    parameters.texts[1] = L"Renaming '" + old_name + L"' to '" + new_name + L"'";
    auto progress = shell::RunProgressWindow(parameters);
    progress->Window().SetRange(0, 1);

    auto server = GetServer();
    RenameElementOrThrow(server.get(), old_name, new_name);
    shell::AdvanceProgress(progress->Window(), 1);
    CIdList renamed = BuildStorageItemId(FindElementInfoOrThrow(server.get(), new_name).get());

    const CIdList old_full = FullIdListOf(item), new_full = FullIdListOf(renamed.get());
    NotifyStorageChange(StorageChange::rename, StorageRootIdList(), old_full.get(), new_full.get());
    NotifyStorageChange(StorageChange::update, StorageRootIdList(), absolute_.get());
    RefreshView(window);
    if (out) *out = renamed.detach();
}

// IShellFolder2

STDMETHODIMP CStorageShellFolder::GetDefaultSearchGUID(GUID* out) {
    if (out) *out = GUID_NULL;
    return E_NOTIMPL;
}

STDMETHODIMP CStorageShellFolder::EnumSearches(IEnumExtraSearch** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CStorageShellFolder::GetDefaultColumn(DWORD, ULONG* sort, ULONG* display) {
    if (!sort || !display) return E_POINTER;
    *sort = 0;
    *display = 0;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::GetDefaultColumnState(UINT column, SHCOLSTATEF* flags) {
    if (!flags) return E_POINTER;
    if (column >= std::size(folder_columns)) return E_INVALIDARG;
    *flags = SHCOLSTATE_TYPE_STR | SHCOLSTATE_ONBYDEFAULT;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::GetDetailsEx(PCUITEMID_CHILD, const SHCOLUMNID*, VARIANT*) { return E_NOTIMPL; }

STDMETHODIMP CStorageShellFolder::MapColumnToSCID(UINT, SHCOLUMNID*) { return E_NOTIMPL; }

// IObjectWithSite

STDMETHODIMP CStorageShellFolder::SetSite(IUnknown* site) {
    site_ = tools::interface_holder<IUnknown>::add_ref(site);
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::GetSite(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!site_) return E_NOINTERFACE;
    return site_->QueryInterface(iid, out);
}
