// Stands in for IStorage::RenameElement, which in Wine leaves the old name length in the file's directory entry.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <functional>

namespace platform {

// Gives the element old_name of storage the name new_name: the element is copied under the new name,
// then once_copied runs (when given), then the old one is destroyed. The new name must not exist
// (STG_E_FILEALREADYEXISTS). A failure up to once_copied leaves the old element only. Destroying an element
// empties it piece by piece before its name goes, so once that has begun the whole copy is never destroyed:
// a failure there leaves the copy and what remains of the old element, for the caller to settle.
HRESULT rename_element(IStorage* storage, const wchar_t* old_name, const wchar_t* new_name,
                       const std::function<HRESULT()>& once_copied = {});

}  // namespace platform
