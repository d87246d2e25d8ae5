// The description of one child of a folder, as listing and FindElementInfo hand it out; the child is
// not opened for it.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "element_store.h"

class CElementInfo final : public tools::com_object<IElementInfo> {
public:
    // A new info object with one reference for the caller; std::bad_alloc when none can be made.
    static tools::interface_holder<IElementInfo> Make(const ChildRecord& record);

    STDMETHODIMP GetType(long* type) override;
    STDMETHODIMP GetName(BSTR* name) override;
    STDMETHODIMP GetTimes(ElementTimes* times) override;
    STDMETHODIMP GetSize(unsigned __int64* size) override;

private:
    explicit CElementInfo(const ChildRecord& record) : record_(record) {}

    // Its reference on the parent wrapper keeps the storage open while the object lives.
    ChildRecord record_;
};
