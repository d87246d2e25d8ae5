// Objects of the system's shell that Explorer hands to a shell extension: the data object and the item menu of files
// in a file-system folder.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

namespace shell_testing {

// The folder's UI object (IDataObject, IContextMenu...) for the named files in it, as Explorer asks for it. Makes no
// assertions, so any thread may call it.
HRESULT FilesObject(const std::wstring& folder, const std::vector<std::wstring>& names, REFIID iid, void** out);

}  // namespace shell_testing
