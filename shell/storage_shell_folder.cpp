#include "storage_shell_folder.h"

#include <platform/id_list_child.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "message_boxes.h"
#include "shell_browser.h"
#include "storage_freeze_query.h"
#include "storage_item_id.h"
#include "storage_item_path.h"
#include "storage_key_map.h"
#include "storage_unlock.h"
#include "worker_references.h"
#include "worker_thread.h"

CStorageShellFolder::CStorageShellFolder() : root_(true), creating_thread_id_(GetCurrentThreadId()) {}

CStorageShellFolder::CStorageShellFolder(const GUID& storage_id, IStorageFolder* root_server_folder,
                                         const ITEMIDLIST* storage_root)
    : root_(false),
      inherited_storage_id_(storage_id),
      storage_root_(CIdList::Clone(storage_root)),
      creating_thread_id_(GetCurrentThreadId()) {
    if (root_server_folder) {
        shell::AddRefOnWorker(root_server_folder);
        root_server_folder_.reset(root_server_folder);
    }
}

CStorageShellFolder::~CStorageShellFolder() { CloseFolder(); }

IUnknown* CreateStorageShellFolder(std::vector<IID>* interfaces) {
    auto* folder = new CStorageShellFolder();
    if (interfaces) {
        *interfaces = CStorageShellFolder::Interfaces();
        interfaces->push_back(IID_IUnknown);
    }
    return static_cast<IShellFolder2*>(folder);
}

std::vector<IID> CStorageShellFolder::Interfaces() {
    return {IID_IPersistFolder2, IID_IShellFolder2, IID_IObjectWithSite, IID_IContextMenu, IID_IDropTarget};
}

void* CStorageShellFolder::query_own_interface(REFIID iid) {
    if (IsEqualIID(iid, IID_IShellFolder)) return static_cast<IShellFolder*>(this);
    if (IsEqualIID(iid, IID_IPersistFolder2) || IsEqualIID(iid, IID_IPersistFolder) || IsEqualIID(iid, IID_IPersist))
        return static_cast<IPersistFolder2*>(this);
    if (IsEqualIID(iid, IID_IObjectWithSite)) return static_cast<IObjectWithSite*>(this);
    if (IsEqualIID(iid, IID_IContextMenu)) return static_cast<IContextMenu*>(this);
    if (IsEqualIID(iid, IID_IDropTarget)) return static_cast<IDropTarget*>(this);
    if (IsEqualIID(iid, IID_StorageShellFolderObject)) return static_cast<IShellFolder2*>(this);
    return nullptr;
}

tools::interface_holder<CStorageShellFolder> CStorageShellFolder::FromShellFolder(IUnknown* folder) {
    tools::interface_holder<IShellFolder2> own;
    if (!folder || FAILED(folder->QueryInterface(IID_StorageShellFolderObject, own.put_void())))
        return tools::interface_holder<CStorageShellFolder>();
    return tools::interface_holder<CStorageShellFolder>(static_cast<CStorageShellFolder*>(own.detach()));
}

void CStorageShellFolder::CloseFolder() noexcept {
    if (InterlockedExchange(&holds_key_reference_, 0)) {
        try {
            CStorageKeyMap::Instance().Release(GetFolderStorageId());
        } catch (...) {
        }
    }
    drop_data_.reset();
    absolute_.reset();
    storage_root_.reset();
    creating_thread_proxy_.reset();
    site_.reset();
    // The server folders belong to the worker's apartment: they are released there. Should the worker be gone,
    // they are left as they are rather than released on a thread they do not belong to.
    const DWORD worker = owner_thread_id_ != shell::unbound_thread_id ? owner_thread_id_ : shell::WorkerThreadId();
    auto release = [&] {
        server_folder_.reset();
        root_server_folder_.reset();
    };
    if (!server_folder_ && !root_server_folder_) return;
    if (worker == 0 || worker == GetCurrentThreadId()) {
        release();
        return;
    }
    try {
        shell::ForwardToOwner(worker, release);
    } catch (...) {
        server_folder_.detach();
        root_server_folder_.detach();
    }
}

ContentKey CStorageShellFolder::GetStorageKey() { return CStorageKeyMap::Instance().Find(GetFolderStorageId()); }

HWND CStorageShellFolder::GetFolderOwnerWindow(HWND window) { return shell::GetFolderOwnerWindow(window, site_.get()); }

void CStorageShellFolder::RefreshView(HWND window) {
    if (site_)
        shell::RefreshFolderView(site_.get(), window);
    else
        shell::RefreshWindowView(window);
}

tools::interface_holder<IShellBrowser> CStorageShellFolder::GetBrowser(HWND window) {
    return shell::GetFolderBrowser(site_.get(), GetFolderOwnerWindow(window));
}

CIdList CStorageShellFolder::FullIdListOf(const ITEMIDLIST* item) const {
    if (!absolute_) _com_issue_error(E_FAIL);
    return CombineIdLists(absolute_.get(), item);
}

void CStorageShellFolder::BindToWorker() { shell::EnsureWorkerThread(owner_thread_id_); }

HRESULT CStorageShellFolder::OpenStorage(const ITEMIDLIST* absolute) {
    return shell::ForwardToOwner(owner_thread_id_, [&] { return OpenStorageOnWorker(absolute); });
}

HRESULT CStorageShellFolder::OpenStorageOnWorker(const ITEMIDLIST* absolute) {
    if (absolute_) return S_OK;
    bool unreachable = false;
    HRESULT hr = tools::com_boundary([&] {
        if (!absolute) _com_issue_error(E_INVALIDARG);
        CIdList list = CIdList::Clone(absolute);
        auto opened = root_ ? OpenRootOnWorker(absolute, unreachable) : OpenSubFolderOnWorker(absolute);
        // Kept on success only: after a failed open the folder is not taken for an opened one.
        server_folder_ = std::move(opened);
        absolute_ = std::move(list);
    });
    // Only a root folder that could not reach the server says so, and never inside an input-synchronous call;
    // a list without a file-system path fails with its own error. The box has no owner: the thread waiting for
    // the worker is another thread.
    if (FAILED(hr) && unreachable && hr != RPC_E_CANTCALLOUT_ININPUTSYNCCALL)
        MessageBoxW(nullptr, server_not_found_text, shell::box_caption, MB_ICONERROR);
    return hr;
}

tools::interface_holder<IStorageFolder> CStorageShellFolder::OpenRootOnWorker(const ITEMIDLIST* absolute,
                                                                                bool& unreachable) {
    wchar_t path[MAX_PATH];
    if (!SHGetPathFromIDListW(absolute, path)) _com_issue_error(E_INVALIDARG);
    storage_id_cache_ = GUID_NULL;
    unreachable = true;
    auto server = ConnectServer();
    unreachable = false;
    if (shell::IsStorageFrozenAtPath(path)) _com_issue_error(E_ACCESSDENIED);
    auto folder = OpenStorageOrThrow(server.get(), tools::bstr(path));
    server.reset();
    // The content key, last: once it is unlocked the folder holds a reference on it.
    const GUID id = GetStorageId(folder.get());
    try {
        UnlockStorage(nullptr, folder.get(), id);
        holds_key_reference_ = 1;
    } catch (const _com_error& e) {
        // No key unlocks the storage: it opens all the same, and what needs the key is refused.
        if (e.Error() != E_ACCESSDENIED) throw;
    }
    storage_id_cache_ = id;
    return folder;
}

tools::interface_holder<IStorageFolder> CStorageShellFolder::OpenSubFolderOnWorker(const ITEMIDLIST* absolute) {
    const StorageItem* last = GetStorageItem(ILFindLastID(absolute));
    if (last->type != FolderElementType) _com_issue_error(E_FAIL);
    const ITEMIDLIST* below = platform::id_list_child(storage_root_.get(), absolute);
    if (!below || below->mkid.cb == 0 || !root_server_folder_) _com_issue_error(E_FAIL);
    return OpenFolderOrThrow(root_server_folder_.get(), tools::bstr(RelativePathText(below)), VARIANT_FALSE);
}

GUID CStorageShellFolder::GetFolderStorageId() {
    if (!root_) return inherited_storage_id_;
    return shell::ForwardToOwner(owner_thread_id_, [&] {
        if (IsEqualGUID(storage_id_cache_, GUID_NULL)) {
            if (!server_folder_) _com_issue_error(E_NOINTERFACE);
            storage_id_cache_ = GetStorageId(server_folder_.get());
        }
        return storage_id_cache_;
    });
}

tools::interface_holder<IStorageFolder> CStorageShellFolder::GetServer() {
    if (!server_folder_) _com_issue_error(E_NOINTERFACE);
    const DWORD thread = GetCurrentThreadId();
    if (thread == owner_thread_id_) return tools::interface_holder<IStorageFolder>::add_ref(server_folder_.get());
    if (thread == creating_thread_id_) {
        if (!creating_thread_proxy_) creating_thread_proxy_ = UnmarshalServerFolder();
        return creating_thread_proxy_;
    }
    return UnmarshalServerFolder();
}

tools::interface_holder<IStorageFolder> CStorageShellFolder::UnmarshalServerFolder() {
    return shell::MarshalForCaller(server_folder_.get());
}
