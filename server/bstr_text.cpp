#include "bstr_text.h"

#include <new>

BSTR AllocBstr(const std::wstring& text) {
    BSTR made = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!made) throw std::bad_alloc();
    return made;
}
