// The item menu: the shell's default folder menu over the selected storage items, to which the folder adds "Open"
// (one folder, older shells), "Check integrity" and "Extract to...", and whose commands it carries out.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

class CStorageShellFolder;

// What the selection holds.
enum class SelectionKind : int { one_file = 1, one_folder = 2, files = 3, folders = 4, mixed = 5 };
// From the data's "Shell IDList Array"; no items count as mixed. An item of another namespace raises E_INVALIDARG.
SelectionKind ClassifySelection(IDataObject* data);

// The item commands' offsets from the first identifier the shell gives the menu.
enum ItemCommand : UINT { open_item_command = 0, check_items_command = 1, extract_items_command = 2 };

// Adds the folder's entries at qcm.indexMenu and advances qcm.idCmdFirst past them; shell_version is the shell's
// version class (3 from version 6 on, when "Open" is left to the shell).
HRESULT MergeItemMenu(QCMINFO& qcm, CStorageShellFolder& folder, IDataObject* data, UINT flags, int shell_version);
HRESULT MergeItemMenu(QCMINFO& qcm, CStorageShellFolder& folder, IDataObject* data, UINT flags);

// Carries out an item command: the folder's own (offsets above), or the shell's (delete, cut, copy, properties,
// paste); any other E_NOTIMPL, which leaves it to the shell.
HRESULT DispatchItemCommand(CStorageShellFolder& folder, HWND window, IDataObject* data, UINT command);

// The callback the folder gives the shell's default folder menu: merge, invoke and help text. A failed merge or
// command is shown ("Unable to complete operation") and returned.
HRESULT CALLBACK ItemMenuCallback(IShellFolder* folder, HWND window, IDataObject* data, UINT message, WPARAM wparam,
                                  LPARAM lparam);

// One selected folder is opened in the same browser; anything else does nothing.
void OpenItem(CStorageShellFolder& folder, HWND window, IDataObject* data);
