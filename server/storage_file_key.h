// How the server's tables key a storage file, so that one file spelled two ways is one entry.
#pragma once
#include <string>

// The file's full path (made absolute, "." and ".." resolved, short names in their long form where the file
// exists). A path with no full form stays as given: opening or watching it fails anyway. Keys are compared by
// the element case folding (ICaseLess), as the file system compares names.
std::wstring StorageFileKey(const std::wstring& path);
