// The identities every part of the system shares: the storage server's and the shell extension's
// classes, the keys of a storage's properties (each property is named by its key's GUID text) and the
// element types the server reports. Only the platform's GUID type is needed, so any program, library
// or test can include this alone.
#pragma once
#include <guiddef.h>

// {30000000-9A79-48F0-A26B-FDA05AE1AD1C}: the storage server's class, and its AppID.
inline constexpr CLSID CLSID_StorageServer = {0x30000000, 0x9A79, 0x48F0, {0xA2, 0x6B, 0xFD, 0xA0, 0x5A, 0xE1, 0xAD, 0x1C}};

// The shell extension's six classes, in the order of its class table.
// The namespace folder that shows the inside of a storage file.
inline constexpr CLSID CLSID_StorageShellFolder = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x18}};
inline constexpr CLSID CLSID_StoragePropSheet = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x1D}};
inline constexpr CLSID CLSID_StorageContextMenu = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x1C}};
inline constexpr CLSID CLSID_FrozenOverlay = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x1A}};
inline constexpr CLSID CLSID_InaccessibleOverlay = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x1B}};
inline constexpr CLSID CLSID_KeyOverlay = {0xAF5C4171, 0x54AA, 0x42A6, {0xB4, 0x28, 0xF2, 0x26, 0xC3, 0x67, 0x9F, 0x19}};

// Answered only within the shell extension's process: the folder object itself behind one of its interfaces.
// {3A99F591-5063-4C82-BA5C-D4B536DC5D5D}
inline constexpr IID IID_StorageShellFolderObject = {0x3A99F591, 0x5063, 0x4C82, {0xBA, 0x5C, 0xD4, 0xB5, 0x36, 0xDC, 0x5D, 0x5D}};

// Answered only within the storage server's process: the proxy/stub class through which it keeps the stubs of its
// folder and file objects for reuse. {AD8475D7-8BC6-4BAE-8243-C1E121DD4512}
inline constexpr CLSID CLSID_ServerReusedStubs = {0xAD8475D7, 0x8BC6, 0x4BAE, {0x82, 0x43, 0xC1, 0xE1, 0x21, 0xDD, 0x45, 0x12}};

// The identity of the storage (root) and of every element, VT_BSTR braced GUID text.
inline constexpr GUID ElementIdProperty = {0x91E7A3FD, 0x8F93, 0x4875, {0x84, 0x36, 0xCC, 0x16, 0x53, 0xBF, 0x40, 0x67}};
// Display name, VT_BSTR, every element.
inline constexpr GUID ElementNameProperty = {0x2F808BAE, 0xBF2C, 0x4192, {0xBC, 0xE2, 0x48, 0xC6, 0xA4, 0x0E, 0x54, 0x6F}};
// Base64 of the enciphered content key, VT_BSTR, root.
inline constexpr GUID ContentKeyProperty = {0x51189750, 0x0624, 0x4CC5, {0x8B, 0x61, 0x57, 0x2E, 0x58, 0x56, 0xC3, 0xEF}};
// Base64 of the key certificate's key identifier, VT_BSTR, root.
inline constexpr GUID KeyIdentifierProperty = {0x3D8DC3CE, 0x0948, 0x448D, {0xAE, 0x29, 0x50, 0x1A, 0xAB, 0x8C, 0xD0, 0x8B}};
// VARIANT_TRUE while the storage is frozen, VT_BOOL, root.
inline constexpr GUID FrozenProperty = {0x8EBBA014, 0x13B6, 0x41EF, {0x91, 0xD8, 0xEF, 0xC7, 0x5E, 0x41, 0xB5, 0x8A}};
// Flag word, VT_UI8, root.
inline constexpr GUID StorageFlagsProperty = {0x91A82CC8, 0x587F, 0x4720, {0xB9, 0xAB, 0xA4, 0xA7, 0x8D, 0x28, 0x53, 0x79}};
// Bit 0 of the flag word: a key is attached (set exactly when AttachedKeyProperty is present).
inline constexpr unsigned long long StorageFlagKeyAttached = 1;
// Base64 of the password-protected key file, VT_BSTR, root.
inline constexpr GUID AttachedKeyProperty = {0xB1B1E13C, 0xC939, 0x4E52, {0xA5, 0x81, 0xE9, 0x54, 0xE0, 0x10, 0xAC, 0x80}};
// Base64 of an item's enciphered comment, VT_BSTR, element.
inline constexpr GUID CommentProperty = {0xF64FAA41, 0x9EC6, 0x4361, {0x88, 0x94, 0x7F, 0x29, 0x52, 0x25, 0x64, 0x82}};
// A stream's content digest as GUID text, VT_BSTR, stream.
inline constexpr GUID ContentDigestProperty = {0x686EECD9, 0x505F, 0x4F3A, {0xA2, 0x77, 0x83, 0x89, 0x0A, 0xA2, 0x12, 0x4B}};

// The clipboard format that marks data handed out by storage folders (the folder's class in this exact text);
// storage folders refuse drops that carry it.
inline constexpr wchar_t StorageSourceFormatName[] = L"{AF5C4171-54AA-42a6-B428-F226C3679F18}";

// Element types as the server's GetType reports them.
inline constexpr long FolderElementType = 1;
inline constexpr long FileElementType = 2;
