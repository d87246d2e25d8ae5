#include "id_list.h"

#include <tools/com_error.h>

CIdList::CIdList(const CIdList& other) : list_(Clone(other.list_).detach()) {}

CIdList CIdList::Clone(const ITEMIDLIST* list) {
    if (!list) return CIdList();
    ITEMIDLIST* copy = ILClone(list);
    if (!copy) _com_issue_error(E_OUTOFMEMORY);
    return CIdList(copy);
}
