// The item commands "copy" and "cut": the selection's data object on the OLE clipboard, with the effect it proposes.
// The paste that completes them is the target's; a move out of a storage completes in the data object's SetData.
#pragma once
#include <windows.h>
#include <objidl.h>

// The data on the clipboard with "Preferred DropEffect" = copy; a refusal is shown ("Unable to copy selected items to
// clipboard") and gives false.
bool CopyToClipboard(HWND owner, IDataObject* data);
// The same with move, and the view shows the items as cut.
bool CutToClipboard(HWND owner, IDataObject* data);
