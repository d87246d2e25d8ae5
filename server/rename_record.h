// What a storage's root records while a rename runs. A rename copies the element under its new name and
// only then destroys the old one (the platform's own rename damages the directory), so a crash in between
// leaves the element twice, its copy perhaps cut short; the record tells the next open which one is the
// copy, so that each element stands once, whole, under its old or its new name.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <platform/compound_file_check.h>

#include <string>
#include <vector>

struct RenameRecord {
    std::vector<std::wstring> folder;  // compound-file names of the folders from the root down to the one renamed in
    std::wstring old_name, new_name;   // compound-file names of the element and of its copy
    std::wstring element_id;           // the identity that the element and its copy both carry
    bool copied = false;               // the copy was whole on disk before the old element began to go
};

// Records a rename in root and commits it, so that it is on disk before the copy begins. Fails with
// STG_E_FILEALREADYEXISTS while another rename is recorded (one that could not be settled).
HRESULT WriteRenameRecord(IStorage* root, const RenameRecord& record);
// Records in root that the copy is whole and on disk, committed: from here on the rename is finished, not undone.
HRESULT MarkRenameCopied(IStorage* root);
// Removes the record, committed.
HRESULT RemoveRenameRecord(IStorage* root);

// Leaves the element once in folder: until the copy is recorded whole the rename is undone (its copy, known by
// the identity it carries, goes with its set); once it is, or once the old element is gone, it is finished (what
// remains of the old element goes, with the old set).
HRESULT SettleRename(IStorage* folder, const RenameRecord& record);
// Settles the rename that root records, if any, and removes the record: S_OK when none is recorded. A record
// that does not read whole was cut short before its rename changed anything, and is only removed. On failure
// the record stays for the next open.
HRESULT SettleInterruptedRename(IStorage* root);

// For the structure check before an open: the old element of a rename recorded whole, which a crash may have left
// half destroyed; no element while the rename is not so recorded.
platform::half_destroyed_element RenamedAwayElement();

// Whether a child of a root, by its compound-file name, is the record: no element, and never listed.
bool IsRenameRecordName(const wchar_t* stored_name);
