// Stands in for IStorage::RenameElement, which in Wine leaves the old name length in the file's directory entry.
#pragma once
#include <windows.h>
#include <objidl.h>

namespace platform {

// Gives the element old_name of storage the name new_name: the element is copied under the new name,
// then the old one destroyed. The new name must not exist (STG_E_FILEALREADYEXISTS). On failure the
// storage is left with the old element only.
HRESULT rename_element(IStorage* storage, const wchar_t* old_name, const wchar_t* new_name);

}  // namespace platform
