#include "file_watcher.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <tools/critical_section.h>
#include <tools/hresult.h>

#include "client_impersonation.h"
#include "file_watch.h"
#include "icase_less.h"
#include "storage_file_key.h"

namespace {

constexpr long watched_state = 0;
constexpr long not_watched_state = 2;

using watch_list = std::vector<std::unique_ptr<server::CFileWatch>>;

std::unique_ptr<server::CFileWatch> make_plain_watch(const std::wstring& path, server::CFileWatch::end_handler on_end) {
    return std::make_unique<server::CFileWatch>(path, std::move(on_end));
}

server::FileWatchMaker make_watch = make_plain_watch;

// The process-wide table of watched files, keyed as the open storages are, so that one file spelled two ways is
// one watch. Watches are owned by `watches_` until their threads have ended; the table only names the ones still
// in force. A watch is destroyed (its thread joined) only outside the lock, since an ending thread takes the lock
// to leave the table.
class WatchedFileTable {
public:
    ~WatchedFileTable() { stop_all(); }

    void watch(const std::wstring& path) {
        destroy(take_finished());
        tools::scoped_lock lock(section_);
        auto [entry, added] = entries_.try_emplace(path, nullptr);
        if (!added) return;
        try {
            watches_.reserve(watches_.size() + 1);
            // Made under the lock: a watch whose file changes at once waits in ended() until its entry names
            // it, so the entry goes with it instead of naming a finished watch.
            watches_.push_back(make_watch(path, [this](server::CFileWatch& w) { ended(w); }));
        } catch (...) {
            entries_.erase(entry);
            throw;
        }
        entry->second = watches_.back().get();
    }

    void unwatch(const std::wstring& path) {
        tools::scoped_lock lock(section_);
        auto found = entries_.find(path);
        if (found == entries_.end()) return;
        found->second->stop();
        entries_.erase(found);
    }

    long state(const std::wstring& path) {
        tools::scoped_lock lock(section_);
        return entries_.count(path) ? watched_state : not_watched_state;
    }

    void stop_all() noexcept {
        watch_list all;
        {
            tools::scoped_lock lock(section_);
            entries_.clear();
            all.swap(watches_);
        }
        for (auto& w : all) w->stop();
        destroy(std::move(all));
    }

private:
    // On the watch's own thread, when its file changed.
    void ended(server::CFileWatch& watch) {
        tools::scoped_lock lock(section_);
        auto found = entries_.find(watch.path());
        if (found != entries_.end() && found->second == &watch) entries_.erase(found);
    }

    watch_list take_finished() {
        watch_list finished;
        tools::scoped_lock lock(section_);
        for (auto it = watches_.begin(); it != watches_.end();) {
            if ((*it)->finished()) {
                finished.push_back(std::move(*it));
                it = watches_.erase(it);
            } else {
                ++it;
            }
        }
        return finished;
    }

    static void destroy(watch_list&& list) noexcept { list.clear(); }

    tools::critical_section section_;
    std::map<std::wstring, server::CFileWatch*, ICaseLess> entries_;
    watch_list watches_;
};

WatchedFileTable the_table;

}  // namespace

HRESULT WatchStorageFile(const wchar_t* path, bool watch) {
    return tools::com_boundary([&]() -> HRESULT {
        if (!path || !*path) return E_INVALIDARG;
        if (watch) {
            server::client_impersonation as_client;
            the_table.watch(StorageFileKey(path));
        } else {
            the_table.unwatch(StorageFileKey(path));
        }
        return S_OK;
    });
}

HRESULT GetStorageWatchState(const wchar_t* path, long* state) {
    if (!state) return E_POINTER;
    *state = not_watched_state;
    return tools::com_boundary([&] {
        if (path) *state = the_table.state(StorageFileKey(path));
    });
}

void StopStorageFileWatchers() noexcept { the_table.stop_all(); }

server::FileWatchMaker server::SetFileWatchMaker(FileWatchMaker maker) {
    FileWatchMaker before = make_watch;
    make_watch = maker ? maker : make_plain_watch;
    return before;
}
