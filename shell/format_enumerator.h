// The IEnumFORMATETC that the storage data object hands out: a copied list of formats and a position in it.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <vector>

#include <tools/com_object.h>
#include "module_lock.h"

class CFormatEnumerator final : public tools::com_object<IEnumFORMATETC> {
public:
    // The formats must carry no target device (none is copied or freed here).
    explicit CFormatEnumerator(std::vector<FORMATETC> formats, size_t position = 0);

    // S_OK when count records were copied, S_FALSE when the list ended first; fetched may be null.
    STDMETHODIMP Next(ULONG count, FORMATETC* records, ULONG* fetched) override;
    // S_OK when count records were skipped, S_FALSE when the end came first (the position is then the end).
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumFORMATETC** out) override;

private:
    shell::CModuleLock module_lock_;
    std::vector<FORMATETC> formats_;
    size_t position_;
};
