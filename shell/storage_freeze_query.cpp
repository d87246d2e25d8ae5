#include "storage_freeze_query.h"

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>

namespace shell {

namespace {
constexpr long watched = 0;
constexpr long not_watched = 2;
}  // namespace

bool IsStorageFrozenAtPath(const std::wstring& path) {
    auto server = ConnectServer();
    const tools::bstr file(path);
    const long state = GetWatchStateOrThrow(server.get(), file);
    if (state != not_watched) return state == watched;
    const bool was_open = IsStorageOpenOrThrow(server.get(), file);
    bool frozen = false;
    {
        auto root = OpenStorageOrThrow(server.get(), file);
        frozen = IsStorageFrozen(root.get());
    }
    if (frozen) {
        if (!was_open) CloseStorageOrThrow(server.get(), file);
        WatchFileOrThrow(server.get(), file, true);
    }
    return frozen;
}

}  // namespace shell
