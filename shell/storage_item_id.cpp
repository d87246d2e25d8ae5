#include "storage_item_id.h"

#include <cstring>
#include <memory>

#include <server/client/server_calls.h>
#include <tools/com_error.h>

namespace {

constexpr size_t name_offset = 30;

struct task_memory_free {
    void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};

}  // namespace

bool IsStorageItemId(const ITEMIDLIST* item) noexcept {
    if (!item) return false;
    const BYTE* record = reinterpret_cast<const BYTE*>(item);
    USHORT cb = item->mkid.cb;
    if (cb < StorageItemIdMinimum || cb % 2 != 0) return false;
    if (std::memcmp(record + 2, &StorageItemSignature, sizeof(GUID)) != 0) return false;
    // The name ends before the two reserved bytes.
    for (size_t at = name_offset; at + 2 <= cb - 2u; at += 2)
        if (record[at] == 0 && record[at + 1] == 0) return true;
    return false;
}

const StorageItem* GetStorageItem(const ITEMIDLIST* item) {
    if (!IsStorageItemId(item)) _com_issue_error(E_INVALIDARG);
    return reinterpret_cast<const StorageItem*>(reinterpret_cast<const BYTE*>(item) + 2);
}

namespace {

CIdList build_record(IElementInfo* info, const long* known_type) {
    tools::bstr name = GetNameOrThrow(info);
    size_t n = name.length();
    size_t cb = StorageItemIdMinimum + 2 * n;
    if (cb > 0xFFFF) _com_issue_error(E_INVALIDARG);
    std::unique_ptr<BYTE, task_memory_free> record(static_cast<BYTE*>(CoTaskMemAlloc(cb + 2)));
    if (!record) _com_issue_error(E_OUTOFMEMORY);
    BYTE* p = record.get();
    std::memset(p, 0, cb + 2);  // reserved bytes and terminator included, so no heap garbage is persisted
    USHORT length = static_cast<USHORT>(cb);
    std::memcpy(p, &length, 2);
    std::memcpy(p + 2, &StorageItemSignature, sizeof(GUID));
    DWORD type = static_cast<DWORD>(known_type ? *known_type : GetTypeOrThrow(info));
    std::memcpy(p + 18, &type, 4);
    UINT64 size = GetSizeOrThrow(info);
    std::memcpy(p + 22, &size, 8);
    if (n) std::memcpy(p + name_offset, static_cast<BSTR>(name), 2 * n);
    return CIdList(reinterpret_cast<ITEMIDLIST*>(record.release()));
}

}  // namespace

CIdList BuildStorageItemId(IElementInfo* info) { return build_record(info, nullptr); }

CIdList BuildStorageItemId(IElementInfo* info, long type) { return build_record(info, &type); }
