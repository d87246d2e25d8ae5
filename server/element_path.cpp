#include "element_path.h"

HRESULT SplitElementPath(const std::wstring& path, std::vector<std::wstring>& names) {
    names.clear();
    if (path.empty() || path[0] == L'\\') return E_FAIL;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'\\', start);
        std::wstring name = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (name.empty()) {
            names.clear();
            return STG_E_INVALIDNAME;
        }
        names.push_back(std::move(name));
        if (end == std::wstring::npos) return S_OK;
        start = end + 1;
    }
}
