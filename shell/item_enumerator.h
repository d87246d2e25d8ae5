// What EnumObjects hands out: the items of a folder, listed once, so that enumerating them asks the server nothing.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <vector>

#include <tools/com_object.h>
#include "id_list.h"
#include "module_lock.h"

class CItemEnumerator final : public tools::com_object<IEnumIDList> {
public:
    // Takes over the items (one-item ID lists in the server's order); positioned at the first.
    explicit CItemEnumerator(std::vector<CIdList> items, size_t position = 0);

    // Items come out as clones the caller owns. fetched may be null only for a count of at most 1. A clone that
    // cannot be made ends the call there: the items before it are handed out (S_FALSE), or E_OUTOFMEMORY when there
    // are none, and the enumerator stays at the item that failed.
    STDMETHODIMP Next(ULONG count, LPITEMIDLIST* items, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    // A new enumerator with a copy of every item, at the same place.
    STDMETHODIMP Clone(IEnumIDList** out) override;

private:
    shell::CModuleLock module_lock_;
    std::vector<CIdList> items_;
    size_t position_;
};
