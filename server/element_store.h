// The element store: a storage file's tree of folders (storages) and files (streams), named by display
// name, each carrying its identity and display name in a property set beside it.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>
#include <tools/element_wrapper.h>
#include "property_keys.h"

using StorageHolder = CStorageWrapper::holder;
using StreamHolder = CStreamWrapper::holder;

// One child of a folder, as EnumChildren lists it.
struct ChildRecord {
    StorageHolder parent;
    std::wstring name;
    bool is_folder = false;
    FILETIME access_time{}, creation_time{}, modification_time{};
    ULONGLONG size = 0;
};

// Opens a storage file for reading and writing, exclusively. Empty on failure; result (when given)
// receives the compound file's HRESULT.
StorageHolder OpenStorageFile(const std::wstring& path, HRESULT* result = nullptr);
// Releases what root holds and opens path in it; the result is root's last HRESULT. A rename that a crash
// cut short is settled first (the storage opens all the same when that fails; the next open tries again).
bool OpenStorageFile(CStorageWrapper& root, const std::wstring& path);

// ElementNameProperty from a set; _com_error E_FAIL when it is not a string.
std::wstring ReadNameProperty(IPropertySetStorage* sets, const GUID& fmtid);
// Deletes a whole set; throws the HRESULT as a long.
void DeletePropertySet(IPropertySetStorage* sets, const GUID& fmtid);
// Deletes a set that is no longer (or not yet) any element's: its absence is what counts, so a missing set
// is no failure.
HRESULT DropPropertySet(IPropertySetStorage* sets, const GUID& fmtid);
// The type of the child with that compound-file name, 0 when there is none. Throws the HRESULT as a long.
DWORD StoredChildType(IStorage* storage, const std::wstring& stored_name);

// Whether name may name a child of folder: not empty, none of / \ : * ? " < > | nor NUL, and the
// display path from the root to it at most 256 characters; for a child that holds a display path of `below`
// characters (see LongestPathBelow), the whole path. Throws when a folder's name cannot be read.
bool ValidateElementName(CStorageWrapper& folder, const std::wstring& name, size_t below = 0);
// The rules of ValidateElementName that look at the name alone.
bool IsValidNameText(const std::wstring& name);

// The name under which a listing shows a child that no display name of its own reaches: its set cannot
// be read, its name is missing or breaks the name rules, or its compound-file name is not the hash of it.
// It is "?" followed by the child's compound-file name, each character other than printable ASCII and
// each of \ / : * ? " < > | % written as "%" and four upper-case hexadecimal digits. No display name has
// this form ("?" is refused), and none is a path (it holds no backslash).
std::wstring StandInName(const std::wstring& stored_name);
// The compound-file name of a child that stand_in names (its digits in either case); false for a name that
// is no stand-in.
bool StoredNameOfStandIn(const std::wstring& stand_in, std::wstring& stored_name);

// Creates (failing when it exists) or opens (failing when it is missing) a child. Empty on failure,
// with the HRESULT in folder's last HRESULT.
StorageHolder OpenChildStorage(CStorageWrapper& folder, const std::wstring& name, bool create);
StreamHolder OpenChildStream(CStorageWrapper& folder, const std::wstring& name, bool create);

// The holder of a folder that is open already, found by its path of display names from the folder where a
// walk begins; empty when it is not open.
using OpenFolderFinder = std::function<StorageHolder(const std::vector<std::wstring>& path)>;
// The longest display path inside the child folder name of folder, counted from that child: 8 for "\b\c.txt" (c.txt
// in b in it), 0 when it is empty. Folders that open_folders finds are read through their holders, since the
// platform opens no storage twice. Throws when a folder cannot be opened or listed.
size_t LongestPathBelow(CStorageWrapper& folder, const std::wstring& name, const OpenFolderFinder& open_folders = nullptr);

// What a rename would be refused with before anything changes, S_OK when nothing: STG_E_INVALIDNAME when new_name
// may not name a child of folder, or a display path inside a renamed folder would pass 256 characters;
// STG_E_FILENOTFOUND when there is no child old_name; STG_E_FILEALREADYEXISTS when another child is new_name.
// Throws when a name cannot be read or a folder inside cannot be opened (see LongestPathBelow).
HRESULT CheckRename(CStorageWrapper& folder, const std::wstring& old_name, const std::wstring& new_name,
                    const OpenFolderFinder& open_folders = nullptr);

// Destroys a child and its property set; name may be a stand-in (see StandInName).
bool DeleteChild(CStorageWrapper& folder, const std::wstring& name);

// Gives a child a new display name, keeping all its properties. Fails as CheckRename refuses (nothing open
// inside a renamed folder); no failure leaves the child without its properties. The element is copied
// under its new name before the old one goes, while the root records the rename (see rename_record.h): a
// rename that a crash cuts short is settled when the storage is next opened.
bool RenameChild(CStorageWrapper& folder, const std::wstring& old_name, const std::wstring& new_name);

// The folder's children in the compound file's order; property-set streams are not children. A child
// that no display name reaches is listed under its stand-in name; one child never fails the listing.
bool EnumChildren(CStorageWrapper& folder, std::vector<ChildRecord>& children);
