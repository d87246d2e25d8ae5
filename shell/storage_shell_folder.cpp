#include "storage_shell_folder.h"

#include <platform/id_list_child.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "message_boxes.h"
#include "storage_freeze_query.h"
#include "storage_item_id.h"
#include "storage_key_map.h"
#include "storage_unlock.h"
#include "worker_thread.h"

namespace {

const ITEMIDLIST* next_item(const ITEMIDLIST* item) {
    return reinterpret_cast<const ITEMIDLIST*>(reinterpret_cast<const BYTE*>(item) + item->mkid.cb);
}

}  // namespace

CStorageShellFolder::CStorageShellFolder() : root_(true), creating_thread_id_(GetCurrentThreadId()) {}

CStorageShellFolder::CStorageShellFolder(const GUID& storage_id, IStorageFolder* root_server_folder,
                                         const ITEMIDLIST* storage_root)
    : root_(false),
      inherited_storage_id_(storage_id),
      root_server_folder_(tools::interface_holder<IStorageFolder>::add_ref(root_server_folder)),
      storage_root_(CIdList::Clone(storage_root)),
      creating_thread_id_(GetCurrentThreadId()) {}

CStorageShellFolder::~CStorageShellFolder() {
    if (holds_key_reference_) {
        try {
            CStorageKeyMap::Instance().Release(GetFolderStorageId());
        } catch (...) {
        }
        holds_key_reference_ = false;
    }
    // The server folders belong to the worker's apartment: they are released there. Should the worker be gone,
    // they are left as they are rather than released on a thread they do not belong to.
    if (owner_thread_id_ == shell::unbound_thread_id || owner_thread_id_ == GetCurrentThreadId()) return;
    try {
        shell::ForwardToOwner(owner_thread_id_, [&] {
            server_folder_.reset();
            root_server_folder_.reset();
        });
    } catch (...) {
        server_folder_.detach();
        root_server_folder_.detach();
    }
}

void CStorageShellFolder::BindToWorker() { shell::EnsureWorkerThread(owner_thread_id_); }

HRESULT CStorageShellFolder::OpenStorage(const ITEMIDLIST* absolute) {
    return shell::ForwardToOwner(owner_thread_id_, [&] { return OpenStorageOnWorker(absolute); });
}

HRESULT CStorageShellFolder::OpenStorageOnWorker(const ITEMIDLIST* absolute) {
    if (absolute_) return S_OK;
    bool connected = false;
    HRESULT hr = tools::com_boundary([&] {
        if (!absolute) _com_issue_error(E_INVALIDARG);
        CIdList list = CIdList::Clone(absolute);
        auto opened = root_ ? OpenRootOnWorker(absolute, connected) : OpenSubFolderOnWorker(absolute);
        // Kept on success only: after a failed open the folder is not taken for an opened one.
        server_folder_ = std::move(opened);
        absolute_ = std::move(list);
    });
    // Only a root folder that could not reach the server says so, and never inside an input-synchronous call.
    // The box has no owner: the thread waiting for the worker is another thread.
    if (FAILED(hr) && root_ && !connected && hr != RPC_E_CANTCALLOUT_ININPUTSYNCCALL)
        MessageBoxW(nullptr, server_not_found_text, shell::box_caption, MB_ICONERROR);
    return hr;
}

tools::interface_holder<IStorageFolder> CStorageShellFolder::OpenRootOnWorker(const ITEMIDLIST* absolute,
                                                                                bool& connected) {
    wchar_t path[MAX_PATH];
    if (!SHGetPathFromIDListW(absolute, path)) _com_issue_error(E_INVALIDARG);
    storage_id_cache_ = GUID_NULL;
    auto server = ConnectServer();
    connected = true;
    if (shell::IsStorageFrozenAtPath(path)) _com_issue_error(E_ACCESSDENIED);
    auto folder = OpenStorageOrThrow(server.get(), tools::bstr(path));
    server.reset();
    // The content key, last: once it is unlocked the folder holds a reference on it.
    const GUID id = GetStorageId(folder.get());
    try {
        UnlockStorage(nullptr, folder.get(), id);
        holds_key_reference_ = true;
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
    std::wstring relative;
    for (const ITEMIDLIST* item = below; item->mkid.cb != 0; item = next_item(item)) {
        if (!relative.empty()) relative += L'\\';
        relative += GetStorageItem(item)->name;
    }
    return OpenFolderOrThrow(root_server_folder_.get(), tools::bstr(relative), VARIANT_FALSE);
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
    auto stream = shell::ForwardToOwner(owner_thread_id_, [&] {
        return shell::MarshalToStream(IID_IStorageFolder, server_folder_.get());
    });
    tools::interface_holder<IStorageFolder> proxy;
    HRESULT hr = CoUnmarshalInterface(stream.get(), IID_IStorageFolder, proxy.put_void());
    if (FAILED(hr)) {
        // The packet still holds a reference on the worker's folder.
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(stream.get());
        _com_issue_error(hr);
    }
    return proxy;
}
