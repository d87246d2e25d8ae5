// The storage's property sets and the keys of its properties; each property is named by its key's GUID text.
#pragma once
#include <windows.h>
#include <string>
#include <tools/element_wrapper.h>
#include "hashed_element_name.h"

// The root storage keeps its own set under the null FMTID.
inline constexpr GUID RootPropertySet = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// Every other element's set lies beside it in its parent, under the hash of its display name.
inline GUID ElementPropertySet(const std::wstring& display_name) { return ElementNameHash(display_name); }

// ElementIdProperty (root and every element, VT_BSTR): declared with the element wrappers.
// Display name, VT_BSTR, every element.
inline constexpr GUID ElementNameProperty = {0x2F808BAE, 0xBF2C, 0x4192, {0xBC, 0xE2, 0x48, 0xC6, 0xA4, 0x0E, 0x54, 0x6F}};
// Base64 of the enciphered content key, VT_BSTR, root.
inline constexpr GUID ContentKeyProperty = {0x51189750, 0x0624, 0x4CC5, {0x8B, 0x61, 0x57, 0x2E, 0x58, 0x56, 0xC3, 0xEF}};
// Base64 of the key certificate's key identifier, VT_BSTR, root.
inline constexpr GUID KeyIdentifierProperty = {0x3D8DC3CE, 0x0948, 0x448D, {0xAE, 0x29, 0x50, 0x1A, 0xAB, 0x8C, 0xD0, 0x8B}};
// VARIANT_TRUE while the storage is frozen, VT_BOOL, root.
inline constexpr GUID FrozenProperty = {0x8EBBA014, 0x13B6, 0x41EF, {0x91, 0xD8, 0xEF, 0xC7, 0x5E, 0x41, 0xB5, 0x8A}};
// Flag word, VT_UI8, root; bit 0: a key is attached.
inline constexpr GUID StorageFlagsProperty = {0x91A82CC8, 0x587F, 0x4720, {0xB9, 0xAB, 0xA4, 0xA7, 0x8D, 0x28, 0x53, 0x79}};
inline constexpr ULONGLONG StorageFlagKeyAttached = 1;
// Base64 of the password-protected key file, VT_BSTR, root.
inline constexpr GUID AttachedKeyProperty = {0xB1B1E13C, 0xC939, 0x4E52, {0xA5, 0x81, 0xE9, 0x54, 0xE0, 0x10, 0xAC, 0x80}};
// Base64 of an item's enciphered comment, VT_BSTR, element.
inline constexpr GUID CommentProperty = {0xF64FAA41, 0x9EC6, 0x4361, {0x88, 0x94, 0x7F, 0x29, 0x52, 0x25, 0x64, 0x82}};
// A stream's content digest as GUID text, VT_BSTR, stream.
inline constexpr GUID ContentDigestProperty = {0x686EECD9, 0x505F, 0x4F3A, {0xA2, 0x77, 0x83, 0x89, 0x0A, 0xA2, 0x12, 0x4B}};

enum class PropertyScope { Root, Element, RootAndElement, Stream };

struct PropertyKeyInfo {
    const wchar_t* name;
    const GUID* key;
    PropertyScope scope;
    VARTYPE type;
};

inline constexpr PropertyKeyInfo PropertyKeys[] = {
    {L"ElementIdProperty", &ElementIdProperty, PropertyScope::RootAndElement, VT_BSTR},
    {L"ElementNameProperty", &ElementNameProperty, PropertyScope::Element, VT_BSTR},
    {L"ContentKeyProperty", &ContentKeyProperty, PropertyScope::Root, VT_BSTR},
    {L"KeyIdentifierProperty", &KeyIdentifierProperty, PropertyScope::Root, VT_BSTR},
    {L"FrozenProperty", &FrozenProperty, PropertyScope::Root, VT_BOOL},
    {L"StorageFlagsProperty", &StorageFlagsProperty, PropertyScope::Root, VT_UI8},
    {L"AttachedKeyProperty", &AttachedKeyProperty, PropertyScope::Root, VT_BSTR},
    {L"CommentProperty", &CommentProperty, PropertyScope::Element, VT_BSTR},
    {L"ContentDigestProperty", &ContentDigestProperty, PropertyScope::Stream, VT_BSTR},
};
