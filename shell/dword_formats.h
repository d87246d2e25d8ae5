// A DWORD stored under a named clipboard format in any data object: the drop effects by which a copy or a move
// between a storage and the file system completes, and the mark on data that comes from a storage folder.
#pragma once
#include <windows.h>
#include <objidl.h>

enum class DwordFormat : int {
    performed_drop_effect = 0,  // "Performed DropEffect": what the target carried out
    preferred_drop_effect = 1,  // "Preferred DropEffect": what the source proposes
    paste_succeeded = 2,        // "Paste Succeeded": the effect of a completed paste
    storage_source = 3,         // the storage source mark, 1 on data that storage folders hand out
};

// The registered clipboard format of the row.
CLIPFORMAT DwordFormatId(DwordFormat format);

// Stores the value as a 4-byte HGLOBAL with release = TRUE; true when SetData succeeded.
bool SetDwordFormat(IDataObject* data, DwordFormat format, DWORD value);
// Reads the value; false when the data object has none, or hands back a medium that is not a block of at least
// four bytes.
bool GetDwordFormat(IDataObject* data, DwordFormat format, DWORD& value);
// The DWORD of a medium the caller was given: false unless it is an HGLOBAL of at least four bytes.
bool ReadDwordMedium(const STGMEDIUM& medium, DWORD& value);

// Whether the data carries the storage source mark (the DWORD 1).
bool IsStorageSource(IDataObject* data);
void MarkStorageSource(IDataObject* data);
