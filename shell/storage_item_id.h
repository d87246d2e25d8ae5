// The shell item ID of an element inside a storage: one length-prefixed record that carries the element's
// type, size and name, so the folder can sort, label and classify it without asking the server.
//
// Layout (little-endian, packed), n = the name's length in UTF-16 code units:
//   0  cb         34 + 2n, covering the two reserved bytes at the end
//   2  signature  StorageItemSignature
//   18 type       FolderElementType or FileElementType
//   22 size       unsigned 64-bit, unaligned
//   30 name       2n + 2 bytes, NUL-terminated
//   32+2n         reserved, written as zero
//   34+2n         the 0 that ends a one-item ID list
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <cstddef>
#include <orrisafe.h>

#include "id_list.h"

// {E268E7C5-2859-4795-ABFD-9B48B5EAEF68}
inline constexpr GUID StorageItemSignature = {0xE268E7C5, 0x2859, 0x4795, {0xAB, 0xFD, 0x9B, 0x48, 0xB5, 0xEA, 0xEF, 0x68}};

#pragma pack(push, 1)
// The record from its signature on, as GetStorageItem hands it out.
struct StorageItem {
    GUID signature;
    DWORD type;
    ULONGLONG size;  // unaligned: read it as a member, never through a pointer to it
    WCHAR name[1];
};
#pragma pack(pop)
static_assert(offsetof(StorageItem, type) == 16 && offsetof(StorageItem, size) == 20 && offsetof(StorageItem, name) == 28);

// The smallest record: the empty name.
inline constexpr USHORT StorageItemIdMinimum = 34;

// Whether the first record of the list is one of ours: at least 34 bytes, an even length, the signature, and
// a NUL inside the name field, so the name can be read without leaving the record.
bool IsStorageItemId(const ITEMIDLIST* item) noexcept;
// The record's payload; any other record raises the COM error E_INVALIDARG.
const StorageItem* GetStorageItem(const ITEMIDLIST* item);
// The record of one element, as a one-item ID list: the name first, then the type and size queries.
// A server failure raises its COM error; a name too long for a record E_INVALIDARG; no memory E_OUTOFMEMORY.
CIdList BuildStorageItemId(IElementInfo* info);
// The same for an element whose type the caller has asked already: one server call fewer.
CIdList BuildStorageItemId(IElementInfo* info, long type);
