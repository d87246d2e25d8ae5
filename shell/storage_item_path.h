// The text forms of a path of storage items: the names of its records joined by "\", the full parse name below a
// storage file's path, and a typed path split into its names.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include "storage_item_id.h"

// The names of the list's records, in order, joined by "\" (no separator before the first or after the last). A
// record that is not one of ours raises the COM error E_INVALIDARG.
std::wstring RelativePathText(const ITEMIDLIST* list);
// The storage file's path (root's file-system path), then "\" and the relative path of the records of full below
// root when there are any. root not a prefix of full: E_INVALIDARG; root without a path: E_FAIL.
std::wstring FullParseName(const ITEMIDLIST* root, const ITEMIDLIST* full);
// The names between backslashes, up to the first empty one: "a\b" gives a and b, "\a" nothing, "a\\b" only a.
std::vector<std::wstring> SplitPathText(const wchar_t* text);
// The last record of a list of our items (a foreign or empty one: E_INVALIDARG).
const StorageItem* LastStorageItem(const ITEMIDLIST* list);
