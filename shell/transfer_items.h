// Copying and moving file-system items into a storage folder: what a drop onto the folder and its "paste" command
// do. The items are measured, then imported one after another through the server on the calling thread, with a
// progress window on a thread of its own.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <string>

class CStorageShellFolder;

// Transfers the items of the data object's "Shell IDList Array" into the folder. The mode is the effect given (it
// chooses, and receives the outcome), else the data's "Preferred DropEffect": move when its move bit is set, else
// copy. Data from a storage folder is refused. True when the transfer ran to its end: the effect carried out is then
// stored as "Performed DropEffect" and "Paste Succeeded" in the data object and given to effect; otherwise nothing
// is stored and effect receives DROPEFFECT_NONE. A move is reported as such only when every item arrived whole;
// one that kept anything out of the storage (a file the user chose to keep) is reported as a copy, so that the
// source, which removes its items on a move, keeps them all. The first failing item ends the transfer with its box.
bool TransferItems(CStorageShellFolder& folder, IDataObject* data, HWND owner, DWORD* effect);

// The clipboard's data transferred into the folder, its mode from the data; false when the clipboard has none.
bool PasteFromClipboard(CStorageShellFolder& folder, HWND window = nullptr);

// Bytes and items (every file and folder one item) at and below the path; false when any of it cannot be read. A
// link to another folder (a reparse point) counts as one item and is not followed.
bool CalculateSourceSize(const std::wstring& path, ULONGLONG& bytes, ULONGLONG& items);
