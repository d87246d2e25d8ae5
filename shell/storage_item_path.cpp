#include "storage_item_path.h"

#include <tools/com_error.h>
#include "id_list.h"

std::wstring RelativePathText(const ITEMIDLIST* list) {
    std::wstring text;
    if (!list) return text;
    for (const ITEMIDLIST* item = list; item->mkid.cb != 0; item = NextIdListItem(item)) {
        if (item != list) text += L'\\';
        text += GetStorageItem(item)->name;
    }
    return text;
}

std::wstring FullParseName(const ITEMIDLIST* root, const ITEMIDLIST* full) {
    const ITEMIDLIST* below = RelativeIdList(root, full);
    std::wstring text = IdListPath(root);
    if (below->mkid.cb != 0) text += L'\\' + RelativePathText(below);
    return text;
}

std::vector<std::wstring> SplitPathText(const wchar_t* text) {
    std::vector<std::wstring> parts;
    if (!text) return parts;
    for (const wchar_t* at = text;;) {
        const wchar_t* end = wcschr(at, L'\\');
        std::wstring part = end ? std::wstring(at, end) : std::wstring(at);
        if (part.empty()) break;
        parts.push_back(std::move(part));
        if (!end) break;
        at = end + 1;
    }
    return parts;
}

const StorageItem* LastStorageItem(const ITEMIDLIST* list) {
    if (!list || list->mkid.cb == 0) _com_issue_error(E_INVALIDARG);
    return GetStorageItem(ILFindLastID(list));
}
