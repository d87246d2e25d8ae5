// The background menu's New Folder: an empty folder under the first free name of "New Folder", "New Folder (1)", ...,
// shown in the view and opened there for renaming.
#pragma once
#include <windows.h>

class CStorageShellFolder;

// Failures are shown ("Unable to complete operation"); a folder made before a later step failed stays.
void NewFolderCommand(CStorageShellFolder& folder, HWND window);
