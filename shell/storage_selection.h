// What the storage file's context menu and property sheet learn when the shell initialises them: the one storage
// file they are for, and its state as their commands are offered.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>

#include <tools/auto_handle.h>

namespace shell {

// Without a folder ID list the data object's file list must name exactly one file (else the COM error
// E_INVALIDARG); with one, the folder's file-system path. No path at all raises E_FAIL.
std::wstring SelectedStoragePath(const ITEMIDLIST* folder, IDataObject* data);

struct StorageCommandState {
    bool frozen = false;
    GUID storage_id = GUID_NULL;
    tools::auto_cert_context installed_key;  // empty when not installed
    ULONGLONG flags = 0;                     // StorageFlagsProperty
};

// The storage's state, read through the server. The frozen state is asked first, so that a frozen storage the
// server watches is opened only once its state is known; then the storage is opened for the rest. Failures throw.
StorageCommandState ReadStorageCommandState(const std::wstring& path);

}  // namespace shell
