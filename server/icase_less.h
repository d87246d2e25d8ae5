// Ordering of display names and paths without regard to letter case, as the element tables use it.
#pragma once
#include <string>
#include <cwchar>

struct ICaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const noexcept {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};
