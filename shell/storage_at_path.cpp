#include "storage_at_path.h"

#include <shlobj.h>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <tools/bstr.h>
#include "id_list.h"
#include "storage_change_notify.h"
#include "storage_unlock.h"

namespace shell {

tools::interface_holder<IStorageFolder> OpenStorageAtPath(const std::wstring& path) {
    return OpenStorageOrThrow(ConnectServer().get(), tools::bstr(path));
}

tools::auto_cert_context FindInstalledKeyAtPath(const std::wstring& path) {
    return FindInstalledKey(OpenStorageAtPath(path).get());
}

void RefreshStorageItem(const std::wstring& path) noexcept {
    CIdList item(ILCreateFromPathW(path.c_str()));
    if (!item) return;
    try {
        // The storage file stands for the storage's root folder: its removal and its making again.
        NotifyStorageChange(StorageChange::remove, item.get(), item.get());
        NotifyStorageChange(StorageChange::create, item.get(), item.get());
    } catch (...) {
        // The shell is told nothing more; it reads the item again on its own later.
    }
}

}  // namespace shell
