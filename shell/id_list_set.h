// The items a data object carries: its "Shell IDList Array" read into owned ID lists, their parsing names, and the
// file names of its CF_HDROP medium.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <string>
#include <vector>

#include "id_list.h"

// A parent list and its children, relative to it, as a "Shell IDList Array" carries them.
struct IdListSet {
    CIdList parent;
    std::vector<CIdList> children;
    size_t count() const noexcept { return children.size(); }
};

// Fills the set from the data object's "Shell IDList Array" and returns the number of children. A data object
// without the format, an empty array, or one whose offsets or lists leave its memory gives 0 and an empty set.
size_t GetShellIdList(IdListSet& set, IDataObject* data);
// The parsing names of the children (SHGDN_FORPARSING through the parent's folder), in order. A failing shell
// call raises its HRESULT as a COM error.
std::vector<std::wstring> IdListSetPaths(const IdListSet& set);
// The file names of the data object's CF_HDROP medium, in order; none when it has no such medium.
std::vector<std::wstring> GetDropFileNames(IDataObject* data);
