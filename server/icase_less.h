// Names and paths compared as element identity compares them: by the case folding of the element's hash, so
// that two spellings of one element are one key of the element tables.
#pragma once
#include <string>
#include "hashed_element_name.h"

struct ICaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return FoldedElementName(a) < FoldedElementName(b);
    }
};

inline bool SameElementName(const std::wstring& a, const std::wstring& b) {
    return FoldedElementName(a) == FoldedElementName(b);
}
