#include "id_list.h"

#include <platform/id_list_child.h>
#include <tools/com_error.h>

CIdList::CIdList(const CIdList& other) : list_(Clone(other.list_).detach()) {}

CIdList CIdList::Clone(const ITEMIDLIST* list) {
    if (!list) return CIdList();
    ITEMIDLIST* copy = ILClone(list);
    if (!copy) _com_issue_error(E_OUTOFMEMORY);
    return CIdList(copy);
}

CIdList CombineIdLists(const ITEMIDLIST* base, const ITEMIDLIST* relative) {
    ITEMIDLIST* combined = ILCombine(base, relative);
    if (!combined) _com_issue_error(E_OUTOFMEMORY);
    return CIdList(combined);
}

void AppendIdList(CIdList& holder, const ITEMIDLIST* relative) { holder = CombineIdLists(holder.get(), relative); }

bool IsIdListPrefix(const ITEMIDLIST* prefix, const ITEMIDLIST* full) noexcept {
    return platform::id_list_child(prefix, full) != nullptr;
}

bool IdListsEqual(const ITEMIDLIST* a, const ITEMIDLIST* b) noexcept {
    const ITEMIDLIST* rest = platform::id_list_child(a, b);
    return rest && rest->mkid.cb == 0;
}

const ITEMIDLIST* RelativeIdList(const ITEMIDLIST* root, const ITEMIDLIST* full) {
    const ITEMIDLIST* rest = platform::id_list_child(root, full);
    if (!rest) _com_issue_error(E_INVALIDARG);
    return rest;
}

std::wstring IdListPath(const ITEMIDLIST* list) {
    wchar_t path[MAX_PATH];
    if (!list || !SHGetPathFromIDListW(list, path)) _com_issue_error(E_FAIL);
    return path;
}
