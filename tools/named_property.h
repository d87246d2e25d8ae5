// One named property of a property set: sets are addressed by FMTID, properties by the GUID text of their key.
#pragma once
#include <windows.h>
#include <propidl.h>
#include "interface_holder.h"

// Creates the set, or opens it when it exists (exclusive, read-write). Throws the HRESULT as a long.
tools::interface_holder<IPropertyStorage> OpenPropertySet(IPropertySetStorage* sets, const GUID& fmtid);

// Writes value under the key's name; throws the failing HRESULT as a long.
void WriteNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key, const VARIANT& value);

// Reads the key's value into out (initialised first); an absent property reads as VT_EMPTY.
void ReadNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key, VARIANT* out);

// Deletes the key's value; returns the set's HRESULT (throws only when the set cannot be opened).
HRESULT DeleteNamedProperty(IPropertySetStorage* sets, const GUID& fmtid, const GUID& key);
