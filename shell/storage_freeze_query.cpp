#include "storage_freeze_query.h"

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>

namespace shell {

namespace {
constexpr long watched = 0;
constexpr long not_watched = 2;
}  // namespace

bool IsStorageFrozenAtPath(const std::wstring& path) { return IsStorageFrozenAtPath(path, nullptr); }

bool IsStorageFrozenAtPath(const std::wstring& path, FrozenReadHook read_then) {
    auto server = ConnectServer();
    const tools::bstr file(path);
    const long state = GetWatchStateOrThrow(server.get(), file);
    if (state != not_watched) return state == watched;
    const bool was_open = IsStorageOpenOrThrow(server.get(), file);
    auto marked = [&] {
        bool frozen = false;
        {
            auto root = OpenStorageOrThrow(server.get(), file);
            frozen = IsStorageFrozen(root.get());
        }
        if (frozen && !was_open) CloseStorageOrThrow(server.get(), file);
        return frozen;
    };
    if (!marked()) return false;
    if (read_then) read_then(path);
    WatchFileOrThrow(server.get(), file, true);
    // An unfreeze that ended since the mark was read had no watch to end: the mark, read again, decides.
    if (marked()) return true;
    WatchFileOrThrow(server.get(), file, false);
    return false;
}

}  // namespace shell
