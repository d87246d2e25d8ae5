// A path inside a storage, relative to a folder: display names separated by single backslashes.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The names of a relative path, first to last. A path that names nothing (empty, or beginning with a
// backslash) gives E_FAIL; an empty name after the first (two backslashes in a row, a trailing backslash)
// gives STG_E_INVALIDNAME. The names themselves are checked where they are used.
HRESULT SplitElementPath(const std::wstring& path, std::vector<std::wstring>& names);
