// A path inside a storage, relative to a folder: display names separated by single backslashes.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The names of a relative path, first to last. The last name is empty when the path is empty or ends in one
// backslash: each call decides what that names. A path that begins with a backslash names nothing (E_FAIL);
// any other empty name (two backslashes in a row) gives STG_E_INVALIDNAME. The names themselves are checked
// where they are used.
HRESULT SplitElementPath(const std::wstring& path, std::vector<std::wstring>& names);
