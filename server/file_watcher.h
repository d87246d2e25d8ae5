// Watching storage files on disk while their storages are frozen: a watched path stays watched until a
// file of its name in its folder is created, deleted, modified or renamed, or the watch is dropped.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "file_watch.h"

// watch: starts watching path (once per file, however the path spells it); the folder is open and
// being read before this returns. Not watch: drops the path's watch and ends its thread.
// Opening the folder runs as the calling COM client.
HRESULT WatchStorageFile(const wchar_t* path, bool watch);

// 0 while path is watched, 2 otherwise (never watched, ended by a change, or dropped).
HRESULT GetStorageWatchState(const wchar_t* path, long* state);

// Ends every watcher thread and waits for them. Call once the server has stopped serving calls.
void StopStorageFileWatchers() noexcept;

namespace server {

// How a path's watch is made. Tests put a maker of their own in place to end a watch before WatchStorageFile
// returns; null puts the plain constructor back. Returns the maker that was in place.
using FileWatchMaker = std::unique_ptr<CFileWatch> (*)(const std::wstring& path, CFileWatch::end_handler on_end);
FileWatchMaker SetFileWatchMaker(FileWatchMaker maker);

}  // namespace server
