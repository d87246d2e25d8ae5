#include "element_path.h"

HRESULT SplitElementPath(const std::wstring& path, std::vector<std::wstring>& names) {
    names.clear();
    if (!path.empty() && path[0] == L'\\') return E_FAIL;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            names.push_back(path.substr(start));
            return S_OK;
        }
        if (end == start) {
            names.clear();
            return STG_E_INVALIDNAME;
        }
        names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
}
