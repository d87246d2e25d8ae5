// The commands on items selected in a storage folder's view: deletion with its question and progress, the item's
// "General" page (name and comment), and the integrity check that compares each stored file's recorded digest with
// the one the server computes now and lists the files that differ, from which they can be deleted.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <orrisafe.h>
#include <string>
#include <vector>

#include <tools/interface_holder.h>
#include "id_list.h"

class CStorageShellFolder;

namespace shell {

// Whether the server folder still holds any of the items (a lookup that fails counts as not found).
bool AnyItemFound(IStorageFolder* folder, const std::vector<CIdList>& items);

// Deletes the items of the selection's "Shell IDList Array" from the folder, after the user said yes. A progress
// window shows the run; Cancel stops it before the next item. The first item that cannot be deleted ends the run
// with a box owned by owner (items deleted before it stay deleted). The folder's view is told and refreshed. Nothing
// selected or nothing found any more: nothing happens.
void DeleteItems(CStorageShellFolder& folder, HWND owner, IDataObject* selection);

// One record of the list a target read to take items out of the folder: its path below the folder, whether it is a
// folder, and for a file the size it was listed with and the element whose contents the target read to their end
// (GUID_NULL when it read none whole).
struct MovedEntry {
    std::wstring path;
    bool is_folder = false;
    UINT64 size = 0;
    GUID received = GUID_NULL;
};

// Completes a move of the items (children of the folder) that the target reported, without asking: deletes exactly
// what the target received, the files whose contents it read whole, each only while it is still that element at its
// listed size, then the listed folders, deepest first, that hold nothing any more. Whatever came or changed since
// stays, and so does every folder that still holds it. Progress, Cancel, failures and notifications as DeleteItems.
void DeleteMovedItems(CStorageShellFolder& folder, HWND owner, const std::vector<CIdList>& items,
                      const std::vector<MovedEntry>& entries);

// The item's property sheet with its "General" page: name, type, size and comment. A changed comment is stored
// (enciphered with the storage's key); a changed name renames the item through the folder. An emptied name changes
// nothing at all. Returns whether the sheet was closed with OK.
bool ShowItemProperties(CStorageShellFolder& folder, HWND owner, const ITEMIDLIST* item);

// One file the integrity check found corrupted: the folder that holds it on the server, and its name there.
struct CorruptedFile {
    tools::interface_holder<IStorageFolder> parent;
    std::wstring name;
};

// Checks every file of the selection, folders walked through the server; files whose digest differs from the one
// recorded for them, or that have none recorded, are listed. Ends with "Test completed" when none is, else with
// the list, from which files can be deleted (the view is refreshed then). Server failures raise their COM error.
void CheckItems(CStorageShellFolder& folder, HWND owner, IDataObject* selection);

// The integrity test of one file element and of a folder's files, below it too; each file tested or skipped (an
// empty one) advances the window and names itself in its first status line.
class IProgressWindow;
void CheckItemDigest(IStorageFolder* parent, IStorageElement* file, const std::wstring& name,
                     std::vector<CorruptedFile>& corrupted, IProgressWindow& progress);
void CheckFolderItems(IStorageFolder* folder, std::vector<CorruptedFile>& corrupted, IProgressWindow& progress);

// "List of corrupted files": the files checked; "Delete selected" deletes the checked ones, each through its own
// folder. Returns whether any was deleted; a dialog that cannot be made raises the system error.
bool ShowCorruptedFiles(HINSTANCE module, HWND owner, std::vector<CorruptedFile>& files);

// Deletes one element of a server folder; a failure is shown in a box owned by owner ("Unable to delete '...'") and
// answered false.
bool DeleteNamedElement(HWND owner, IStorageFolder* parent, const std::wstring& name);

// "Are you sure you want to delete 'name' ?" for one item, "... N items ?" for several.
std::wstring DeleteQuestion(size_t count, const std::wstring& name);
// "N item" or "N items".
std::wstring ItemCount(size_t count);

}  // namespace shell
