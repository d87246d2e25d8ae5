// Whether the storage file at a path is frozen (its server watches the file, or its FrozenProperty says so).
#pragma once
#include <string>

namespace shell {

// The watch state is asked first, on a new connection: a watched file is frozen and is not opened (an open is
// exclusive and would undo what freezing is for). Only a file the server does not watch is opened to read its
// FrozenProperty; a frozen one is then closed again, unless someone had it open already, and put under watch.
// Failures throw the server's COM error.
bool IsStorageFrozenAtPath(const std::wstring& path);

}  // namespace shell
