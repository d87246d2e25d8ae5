// The storage's properties read and written through the server, each with its key, its variant type and its
// conversion fixed. A getter that finds another variant type than its own, or nothing where a value is
// required, raises the COM error E_UNEXPECTED; a failing write raises the server's HRESULT with
// IStorageElement's IID.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <string>

#include <tools/text.h>

// ElementIdProperty as a GUID (the storage identifier when read from the root).
GUID GetStorageId(IStorageElement* element);
// Base64-decoded KeyIdentifierProperty.
tools::byte_buffer GetKeyIdentifier(IStorageElement* root);
// Base64-decoded ContentKeyProperty: the content key as the storage keeps it, still locked.
tools::byte_buffer GetContentKey(IStorageElement* root);
bool IsStorageFrozen(IStorageElement* root);
void SetStorageFrozen(IStorageElement* root, bool frozen);
// 0 when the storage never stored flags.
ULONGLONG GetStorageFlags(IStorageElement* root);
void SetStorageFlags(IStorageElement* root, ULONGLONG flags);
// The attached key file's bytes.
tools::byte_buffer GetAttachedKey(IStorageElement* root);
void SetAttachedKey(IStorageElement* root, const tools::byte_buffer& key_file);
// Whether the element stores a comment of any type.
bool HasItemComment(IStorageElement* element);
std::wstring GetItemComment(IStorageElement* element, const tools::byte_buffer& content_key);
void SetItemComment(IStorageElement* element, const std::wstring& text, const tools::byte_buffer& content_key);
// The file's recorded content digest (the bytes of IStorageFile::GetDigest), kept as braced GUID text.
StreamDigest GetContentDigest(IStorageElement* file);
void SetContentDigest(IStorageElement* file, const StreamDigest& digest);
