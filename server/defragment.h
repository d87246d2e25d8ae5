// Rewrites a storage file compactly: a copy is written beside it and replaces it in one step.
#pragma once
#include <windows.h>
#include <string>

// The storage must not be open (the exclusive opens fail otherwise). The original stays untouched until
// the complete copy replaces it; no temporary file is left behind on any path.
HRESULT DefragmentStorageFile(const std::wstring& path);
