// The listing of a folder: a snapshot of its children taken when the enumerator is made.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <vector>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "element_store.h"

class CElementEnum final : public tools::com_object<IElementEnum> {
public:
    // An enumerator over the folder's children with one reference for the caller; empty when the folder
    // cannot be listed (its wrapper's last HRESULT tells why).
    static tools::interface_holder<IElementEnum> Make(CStorageWrapper& folder);

    STDMETHODIMP Next(IElementInfo** info) override;
    STDMETHODIMP Reset() override;

private:
    explicit CElementEnum(std::vector<ChildRecord> records) : records_(std::move(records)) {}

    std::vector<ChildRecord> records_;
    size_t position_ = 0;
};
