// Stands in for the shell's ILFindChild, which under Wine refuses ID lists holding items of other namespaces.
#include "id_list_child.h"

#include <cstring>

namespace platform {

namespace {
const ITEMIDLIST* next(const ITEMIDLIST* item) {
    return reinterpret_cast<const ITEMIDLIST*>(reinterpret_cast<const BYTE*>(item) + item->mkid.cb);
}
}  // namespace

const ITEMIDLIST* id_list_child(const ITEMIDLIST* parent, const ITEMIDLIST* child) noexcept {
    if (!parent || !child) return nullptr;
    for (; parent->mkid.cb; parent = next(parent), child = next(child)) {
        if (child->mkid.cb != parent->mkid.cb || std::memcmp(child, parent, parent->mkid.cb) != 0) return nullptr;
    }
    return child;
}

}  // namespace platform
