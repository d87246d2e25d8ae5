// The namespace folder that shows the inside of a storage file, or of a folder element inside it. This is the
// folder's side toward the storage server: its connection members, the opening of its storage or sub-folder on
// the worker thread, its storage identifier, and its server folder handed to the thread that asks. The
// namespace interfaces (IShellFolder2, IPersistFolder2, menus, drop target) are added with the folder itself.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <orrisafe.h>

#include <tools/interface_holder.h>
#include "cross_thread_call.h"
#include "id_list.h"
#include "module_lock.h"

class CStorageShellFolder {
public:
    // The folder of a storage file (root) that the class factory makes.
    CStorageShellFolder();
    // A folder element inside a storage, below the storage file's ID list, made by its parent folder with what
    // the parent knows of the storage (its root folder on the server, its identifier).
    CStorageShellFolder(const GUID& storage_id, IStorageFolder* root_server_folder, const ITEMIDLIST* storage_root);
    CStorageShellFolder(const CStorageShellFolder&) = delete;
    CStorageShellFolder& operator=(const CStorageShellFolder&) = delete;
    virtual ~CStorageShellFolder();

    // Binds the folder to the worker thread (starting it when needed); IPersistFolder::Initialize does this
    // before OpenStorage.
    void BindToWorker();

    // Opens the folder's element on the server, once: a second call returns S_OK and keeps the first list.
    // Runs on the worker (forwarded there from other threads). Failures come back as the HRESULT; a root
    // folder that cannot reach the server also shows the "server was not found" box. A storage file's content
    // key is unlocked here; a storage that no key unlocks still opens, and the operations that need its key
    // fail with E_ACCESSDENIED.
    HRESULT OpenStorage(const ITEMIDLIST* absolute);

    // The storage's identifier: handed down to a sub-folder, read once from the storage by a root folder.
    GUID GetFolderStorageId();

    // The folder's server folder as an interface usable on the calling thread: the worker's own, a proxy kept
    // for the thread that made the folder, or a new proxy for any other thread. No server folder: the COM
    // error E_NOINTERFACE.
    tools::interface_holder<IStorageFolder> GetServer();

    bool IsRoot() const noexcept { return root_; }
    // The folder's full ID list once it is open, else null.
    const ITEMIDLIST* AbsoluteIdList() const noexcept { return absolute_.get(); }
    bool HoldsKeyReference() const noexcept { return holds_key_reference_; }

protected:
    HRESULT OpenStorageOnWorker(const ITEMIDLIST* absolute);
    tools::interface_holder<IStorageFolder> OpenRootOnWorker(const ITEMIDLIST* absolute, bool& connected);
    tools::interface_holder<IStorageFolder> OpenSubFolderOnWorker(const ITEMIDLIST* absolute);
    tools::interface_holder<IStorageFolder> UnmarshalServerFolder();

    // First, so that it is given back last, after everything else of the folder is gone.
    shell::CModuleLock module_lock_;
    const bool root_;
    DWORD owner_thread_id_ = shell::unbound_thread_id;
    tools::interface_holder<IStorageFolder> server_folder_;
    CIdList absolute_;
    GUID storage_id_cache_ = GUID_NULL;
    GUID inherited_storage_id_ = GUID_NULL;
    tools::interface_holder<IStorageFolder> root_server_folder_;
    CIdList storage_root_;
    const DWORD creating_thread_id_;
    tools::interface_holder<IStorageFolder> creating_thread_proxy_;
    bool holds_key_reference_ = false;
};

// The box a root folder shows when the server cannot be reached.
inline constexpr wchar_t server_not_found_text[] =
    L"Unable to open storage. Orrisafe RPC server was not found.\n\nPlease restart the computer. If the same error "
    L"will occur again then try to reinstall the program.";
