// The virtual-file records ("FileGroupDescriptorW") of storage items and everything below them, as a drop target
// outside the storage reads them to create files whose contents it then asks for.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <orrisafe.h>
#include <string>
#include <vector>

#include "id_list.h"

// Whether a name that comes out of a storage may stand as one component of a path on the target's side: not empty,
// not only dots and blanks ("..", ". ."), and without a path separator or a colon (a drive or a stream). A storage
// made elsewhere could otherwise send the target's files anywhere on its disk.
bool IsPlainFileName(const std::wstring& name);

// Appends the records of the items (one-record ID lists of this folder) and of everything below them, in pre-order
// (a folder before its contents), each named by its path below the folder. A name that is no plain file name
// raises HRESULT_FROM_WIN32(ERROR_INVALID_NAME); a path of 260 characters or more E_OUTOFMEMORY; server failures
// their COM error.
void CollectDescriptors(IStorageFolder* folder, const std::vector<CIdList>& items,
                        std::vector<FILEDESCRIPTORW>& descriptors);
