#include "storage_server.h"

#include <tools/hresult.h>

#include "bstr_text.h"
#include "client_impersonation.h"
#include "defragment.h"
#include "file_watcher.h"
#include "storage_file_key.h"
#include "storage_object.h"

STDMETHODIMP CStorageServer::OpenStorage(BSTR path, IStorageFolder** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring key = StorageFileKey(BstrText(path));
        if (CStorageObject* open = storages_.Find(key)) {
            // Open for someone else, maybe: handed only to a caller who could open the file itself.
            if (!caller_check_(key)) return E_ACCESSDENIED;
            open->AddRef();
            *folder = open;
            return S_OK;
        }
        CStorageObject* made = nullptr;
        {
            // The service never opens a file that its caller could not open.
            server::client_impersonation as_caller;
            made = CStorageObject::CreateRootFolder(storages_, key);
            // A defragmentation that a crash cut short left its copy beside the storage.
            if (made) RemoveDefragmentLeftover(key);
        }
        // The compound file's own error is not passed on.
        if (!made) return E_POINTER;
        *folder = made;
        return S_OK;
    });
}

STDMETHODIMP CStorageServer::CloseStorage(BSTR path) {
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring key = StorageFileKey(BstrText(path));
        CStorageObject* open = storages_.Find(key);
        if (!open) return S_FALSE;
        // Closing cuts every holder off: only a caller who could open the file itself may.
        if (!caller_check_(key)) return E_ACCESSDENIED;
        open->DisconnectTree();
        return S_OK;
    });
}

STDMETHODIMP CStorageServer::IsStorageOpen(BSTR path, VARIANT_BOOL* open) {
    if (!open) return E_POINTER;
    return tools::com_boundary(
        [&] { *open = storages_.Find(StorageFileKey(BstrText(path))) ? VARIANT_TRUE : VARIANT_FALSE; });
}

STDMETHODIMP CStorageServer::Defragment(BSTR path) {
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring text = BstrText(path);
        server::client_impersonation as_caller;
        return DefragmentStorageFile(text);
    });
}

STDMETHODIMP CStorageServer::Reserved1(VARIANT, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CStorageServer::Reserved2(VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CStorageServer::Reserved3(VARIANT, VARIANT) { return E_NOTIMPL; }
STDMETHODIMP CStorageServer::Reserved4(VARIANT, VARIANT) { return E_NOTIMPL; }

STDMETHODIMP CStorageServer::WatchFile(BSTR path, VARIANT_BOOL watch) {
    return tools::com_boundary([&]() -> HRESULT {
        std::wstring text = BstrText(path);
        // A watch makes the storage count as frozen for its owner's shell: only a caller who could open the file
        // itself may start one. Dropping a watch only makes the shell read the storage's own mark again.
        if (watch && !text.empty() && !caller_check_(StorageFileKey(text))) return E_ACCESSDENIED;
        return WatchStorageFile(text.c_str(), watch != 0);
    });
}

STDMETHODIMP CStorageServer::GetWatchState(BSTR path, long* state) {
    if (!state) return E_POINTER;
    return tools::com_boundary([&] { return GetStorageWatchState(BstrText(path).c_str(), state); });
}

HRESULT CStorageServer::Teardown() noexcept {
    return tools::com_boundary([&]() -> HRESULT {
        while (!storages_.Empty()) {
            size_t before = storages_.Size();
            storages_.First()->DisconnectTree();
            if (storages_.Size() >= before) return E_ACCESSDENIED;
        }
        return S_OK;
    });
}
