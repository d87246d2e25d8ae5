// Stands in for Wine's IPropertyStorage, whose writes corrupt VT_BOOL sets and whose failed commits are lost.
#pragma once
#include <windows.h>
#include <propidl.h>
#include "property_set_format.h"

namespace platform {

// A property storage over one set stream, holding its own reference to the stream. Every change is
// written through to the stream at once and its failure returned; a failed change leaves the set as it was.
HRESULT make_property_storage(IStream* stream, DWORD mode, property_set_image image, IPropertyStorage** out);

// Writes an image over the whole stream.
HRESULT write_property_set(IStream* stream, const property_set_image& image);

}  // namespace platform
