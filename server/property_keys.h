// Where the server keeps the storage's property sets, and what it knows of each property key.
#pragma once
#include <windows.h>
#include <string>
#include <server/idl/storage_identities.h>
#include <tools/element_wrapper.h>
#include "hashed_element_name.h"

// The root storage keeps its own set under the null FMTID.
inline constexpr GUID RootPropertySet = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// Every other element's set lies beside it in its parent, under the hash of its display name.
inline GUID ElementPropertySet(const std::wstring& display_name) { return ElementNameHash(display_name); }

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
