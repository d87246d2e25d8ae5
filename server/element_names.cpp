#include "element_store.h"

#include <tools/named_property.h>

namespace {

constexpr size_t longest_path = 256;
const wchar_t forbidden[] = L"/\\:*?\"<>|";

}  // namespace

bool IsValidNameText(const std::wstring& name) {
    if (name.empty() || name.size() > longest_path) return false;
    // A NUL would end the name for the platform's string routines, so two names would meet in one.
    return name.find_first_of(std::wstring(forbidden, sizeof forbidden / sizeof *forbidden)) == std::wstring::npos;
}

bool ValidateElementName(CStorageWrapper& folder, const std::wstring& name, size_t below) {
    if (!IsValidNameText(name)) return false;
    std::wstring path = L"\\" + name;
    if (below > longest_path) return false;
    // What lies inside the element reaches `below` characters further.
    const size_t limit = longest_path - below;
    StorageHolder keep;
    for (CStorageWrapper* current = &folder; !current->IsRoot(); keep = current->GetParent(), current = keep.get()) {
        VARIANT value;
        VariantInit(&value);
        if (!current->ReadProperty(ElementNameProperty, &value)) throw static_cast<long>(current->LastResult());
        std::wstring part = value.vt == VT_BSTR && value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : std::wstring();
        VariantClear(&value);
        path = L"\\" + part + path;
        if (path.size() > limit) return false;
    }
    return path.size() <= limit;
}
