// Tells the shell what changed inside a storage, so that the views showing it update. The lists passed are full
// (absolute) ID lists.
#pragma once
#include <windows.h>
#include <shlobj.h>

enum class StorageChange : int { create = 0, remove = 1, rename = 2, update = 3 };

// Sends the shell event for the change: the item counts as a folder when first is the storage itself (equals root),
// otherwise by the type of its last record (a foreign record: the COM error E_INVALIDARG). rename passes the old
// list as first and the new one as second; the other kinds pass first only.
void NotifyStorageChange(StorageChange kind, const ITEMIDLIST* root, const ITEMIDLIST* first,
                         const ITEMIDLIST* second = nullptr);

// Where the events go: SHChangeNotify, unless a test put a recorder of its own in its place. Returns the one it
// replaces; null restores SHChangeNotify. (Under Wine the shell's registrations never match our items, so a test
// cannot watch the events arrive.)
using change_notify_sink = void(WINAPI*)(LONG event, UINT flags, LPCVOID first, LPCVOID second);
change_notify_sink SetChangeNotifySink(change_notify_sink sink) noexcept;
