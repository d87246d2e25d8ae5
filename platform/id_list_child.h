// Stands in for the shell's ILFindChild, which under Wine gives nothing for an ID list that holds items of another
// namespace than the file system's (its item-type check refuses them), so a storage's items never lie below it.
#pragma once
#include <windows.h>
#include <shlobj.h>

namespace platform {

// The part of child that lies below parent: child's items after those equal to parent's (byte for byte), the
// empty list at child's end when the two are equal, all of child when parent is the empty list (the desktop);
// null when child does not begin with parent.
const ITEMIDLIST* id_list_child(const ITEMIDLIST* parent, const ITEMIDLIST* child) noexcept;

}  // namespace platform
