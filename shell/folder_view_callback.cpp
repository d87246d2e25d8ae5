#include "folder_view_callback.h"

#include "storage_shell_folder.h"

namespace {
// The view's messages the callback answers.
constexpr UINT query_fs_notify_message = 25;  // SFVM_QUERYFSNOTIFY
constexpr UINT get_notify_message = 49;       // SFVM_GETNOTIFY
}  // namespace

CFolderViewCallback::CFolderViewCallback(CStorageShellFolder* folder)
    : com_object(IID_IShellFolderViewCB), folder_(tools::interface_holder<CStorageShellFolder>::add_ref(folder)) {}

CFolderViewCallback::~CFolderViewCallback() {
    if (folder_) folder_->CloseFolder();
    folder_.reset();
}

STDMETHODIMP CFolderViewCallback::MessageSFVCB(UINT message, WPARAM wparam, LPARAM lparam) {
    if (!folder_) return E_NOTIMPL;
    switch (message) {
    case query_fs_notify_message: {
        auto* entry = reinterpret_cast<SHChangeNotifyEntry*>(lparam);
        if (!entry) return E_INVALIDARG;
        entry->pidl = folder_->AbsoluteIdList() ? ILClone(folder_->AbsoluteIdList()) : nullptr;
        entry->fRecursive = TRUE;
        return S_OK;
    }
    case get_notify_message:
        if (!wparam || !lparam) return E_INVALIDARG;
        *reinterpret_cast<const ITEMIDLIST**>(wparam) = folder_->AbsoluteIdList();
        *reinterpret_cast<LONG*>(lparam) = folder_view_events;
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

void CFolderViewCallback::Disown() noexcept { folder_.reset(); }

bool CFolderViewCallback::HeldByOthers() noexcept {
    AddRef();
    return Release() > 1;
}
