// The type text of an item, as the folder's "Type" column and the item's "General" page show it.
#pragma once
#include <string>

// Folder (name null): the registered folder type text, else "Folder". File: the text registered for its
// extension's class, else the extension without its dot in upper case followed by " File", and "File" for a name
// without an extension.
std::wstring ItemTypeText(const wchar_t* name);
