#include "element_info.h"

#include <server/idl/storage_identities.h>
#include <tools/hresult.h>

#include "bstr_text.h"

tools::interface_holder<IElementInfo> CElementInfo::Make(const ChildRecord& record) {
    return tools::interface_holder<IElementInfo>(new CElementInfo(record));
}

STDMETHODIMP CElementInfo::GetType(long* type) {
    if (!type) return E_POINTER;
    *type = record_.is_folder ? FolderElementType : FileElementType;
    return S_OK;
}

STDMETHODIMP CElementInfo::GetName(BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    return tools::com_boundary([&] { *name = AllocBstr(record_.name); });
}

STDMETHODIMP CElementInfo::GetTimes(ElementTimes* times) {
    if (!times) return E_POINTER;
    times->access = record_.access_time;
    times->creation = record_.creation_time;
    times->modification = record_.modification_time;
    return S_OK;
}

STDMETHODIMP CElementInfo::GetSize(unsigned __int64* size) {
    if (!size) return E_POINTER;
    *size = record_.size;
    return S_OK;
}
