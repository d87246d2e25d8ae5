// Rewrites a storage file compactly: a copy is written beside it and replaces it in one step.
#pragma once
#include <windows.h>
#include <string>

// The storage must not be open (the exclusive opens fail otherwise). The original stays untouched until
// the complete copy replaces it; no temporary file is left behind on any path. The file keeps its attributes,
// owner, group and access list; a read-only file is refused (E_ACCESSDENIED), as the platform replaces none.
// A leftover copy is deleted first; whatever then stands under the copy's name fails the call, untouched.
HRESULT DefragmentStorageFile(const std::wstring& path);

// The copy's path: beside the storage, named by the storage file's name hashed as element names are, so
// that a copy a crash left behind is known as this storage's and no other file is ever taken for it.
std::wstring DefragTempFile(const std::wstring& path);
// Deletes the copy that a defragmentation of this storage cut short by a crash left behind, if any.
void RemoveDefragmentLeftover(const std::wstring& path) noexcept;

namespace server {

// Where a defragmentation stands when a test's hook is called with the copy's path: the leftover is gone and the
// copy is about to be created, the copy is made and about to be filled, or the complete copy is about to take the
// storage's place.
enum class DefragmentStep { creating_copy, filling_copy, replacing_storage };
using DefragmentHook = void (*)(DefragmentStep step, const std::wstring& copy);
// Puts a hook in place (null: none); returns the one that was.
DefragmentHook SetDefragmentHook(DefragmentHook hook);

}  // namespace server
