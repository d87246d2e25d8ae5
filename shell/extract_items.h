// "Extract to...": the selected items copied to a file-system folder the user picks, by dropping the selection's
// data on that folder's own drop target, which reads the items as virtual files.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

class CStorageShellFolder;

// The user's choice of folder; a cancelled choice ends the command with nothing done. A failing step's HRESULT.
HRESULT ExtractItems(CStorageShellFolder& folder, HWND window, IDataObject* data);

// Where the folder is chosen: SHBrowseForFolderW, unless a test put its own chooser in its place. Returns the one it
// replaces; null restores SHBrowseForFolderW.
using folder_chooser = PIDLIST_ABSOLUTE(WINAPI*)(BROWSEINFOW* info);
folder_chooser SetFolderChooser(folder_chooser chooser) noexcept;
