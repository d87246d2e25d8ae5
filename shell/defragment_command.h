// The "Defragmentation..." command of a storage file: the wasted share is estimated on a thread of its own behind a
// wait dialog, shown, and when it is large the storage server defragments the file, again behind a wait dialog.
// The storage is frozen while either phase works on it, unless it was frozen before (then it stays so).
#pragma once
#include <windows.h>
#include <process.h>
#include <string>

#include "storage_freeze.h"

namespace shell {

// Starts a thread as _beginthreadex does: its handle, or null with the last error set.
using CommandThreadStarter = HANDLE (*)(unsigned(__stdcall* body)(void*), void* argument);
// Freezes or unfreezes a storage as SetStorageFreeze does, returning the state its mark had before.
using FreezeSetter = bool (*)(const std::wstring& path, bool freeze);

// Reports everything to the user (owned by owner): the figure, the question, the outcome and the failures of
// each phase, among them a storage that a phase froze and could not unfreeze again (the command ends there).
// Throws only when the frozen state cannot be read or a wait dialog cannot be shown.
void DefragmentStorage(HWND owner, const std::wstring& path);
// The same with the threads started by start_thread and the storage frozen and unfrozen by set_freeze.
void DefragmentStorage(HWND owner, const std::wstring& path, CommandThreadStarter start_thread,
                       FreezeSetter set_freeze = SetStorageFreeze);

}  // namespace shell
