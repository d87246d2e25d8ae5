// Rewrites a storage file compactly: a copy is written beside it and replaces it in one step.
#pragma once
#include <windows.h>
#include <string>

// The storage must not be open (the exclusive opens fail otherwise). The original stays untouched until
// the complete copy replaces it; no temporary file is left behind on any path.
HRESULT DefragmentStorageFile(const std::wstring& path);

// The copy's path: beside the storage, named by the storage file's name hashed as element names are, so
// that a copy a crash left behind is known as this storage's and no other file is ever taken for it.
std::wstring DefragTempFile(const std::wstring& path);
// Deletes the copy that a defragmentation of this storage cut short by a crash left behind, if any.
void RemoveDefragmentLeftover(const std::wstring& path) noexcept;
