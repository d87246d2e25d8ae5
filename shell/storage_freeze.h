// Freezing a storage: closed for all use until it is unfrozen, so that other programs may copy, rename or remove
// its file. Whether a storage is frozen is asked with IsStorageFrozenAtPath.
#pragma once
#include <string>

namespace shell {

// Brings the storage into the requested state and returns the state its FrozenProperty had before. Freezing
// marks the storage, drops its content key from the process's key map, has the server close every element of it
// (whoever holds them) and watch the file; unfreezing clears the mark and ends the watch. Asking for the state
// the storage is in already changes nothing, except that unfreezing an unmarked storage ends a watch that was
// left on its file. The shell is told to read the file's item again. Server and property
// failures throw their COM errors; a failure after the mark was written leaves the mark changed.
bool SetStorageFreeze(const std::wstring& path, bool freeze);

}  // namespace shell
