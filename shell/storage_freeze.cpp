#include "storage_freeze.h"

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <tools/bstr.h>
#include "storage_at_path.h"
#include "storage_key_map.h"

namespace shell {

namespace {

constexpr long watched = 0;

// A watch that outlived an unfreeze (one that met a frozen-state query) would keep an unmarked storage frozen.
void EndLeftoverWatch(const std::wstring& path) {
    auto server = ConnectServer();
    const tools::bstr file(path);
    if (GetWatchStateOrThrow(server.get(), file) != watched) return;
    WatchFileOrThrow(server.get(), file, false);
    RefreshStorageItem(path);
}

}  // namespace

bool SetStorageFreeze(const std::wstring& path, bool freeze) {
    auto root = OpenStorageAtPath(path);
    const bool previous = IsStorageFrozen(root.get());
    if (previous == freeze) {
        root.reset();
        if (!freeze) EndLeftoverWatch(path);
        return previous;
    }
    auto server = ConnectServer();
    const GUID id = GetStorageId(root.get());
    SetStorageFrozen(root.get(), freeze);
    root.reset();
    const tools::bstr file(path);
    if (freeze) {
        CStorageKeyMap::Instance().Remove(id);
        CloseStorageOrThrow(server.get(), file);
    }
    WatchFileOrThrow(server.get(), file, freeze);
    RefreshStorageItem(path);
    return previous;
}

}  // namespace shell
