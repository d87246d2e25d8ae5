#include "wizard/resource_stream.h"

#include <shlwapi.h>

tools::interface_holder<IStream> ResourceStream(HMODULE module, UINT id, const wchar_t* type) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    DWORD size = SizeofResource(module, found);
    const void* data = LockResource(LoadResource(module, found));
    if (!data || !size) return {};
    // The stream keeps a copy of its own: nothing is allocated before the resource could be read.
    return tools::interface_holder<IStream>(SHCreateMemStream(static_cast<const BYTE*>(data), size));
}
