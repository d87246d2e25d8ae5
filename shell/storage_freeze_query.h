// Whether the storage file at a path is frozen (its server watches the file, or its FrozenProperty says so).
#pragma once
#include <string>

namespace shell {

// The watch state is asked first, on a new connection: a watched file is frozen and is not opened (an open is
// exclusive and would undo what freezing is for). Only a file the server does not watch is opened to read its
// FrozenProperty; a frozen one is then closed again, unless someone had it open already, and put under watch, and
// its FrozenProperty is read once more: when an unfreeze has cleared it meanwhile, the watch ends again and the
// storage is not frozen. Failures throw the server's COM error.
bool IsStorageFrozenAtPath(const std::wstring& path);

// Called after FrozenProperty was read TRUE and before the file is put under watch: where an unfreeze on another
// thread may fall.
using FrozenReadHook = void (*)(const std::wstring& path);
// The same with read_then called at that point.
bool IsStorageFrozenAtPath(const std::wstring& path, FrozenReadHook read_then);

}  // namespace shell
