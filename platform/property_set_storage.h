// Stands in for Wine's IPropertySetStorage over a compound-file storage (its sets are written defectively).
#pragma once
#include <windows.h>
#include <propidl.h>

namespace platform {

// The property sets kept as "\005" streams inside storage: what QueryInterface(IID_IPropertySetStorage)
// on the storage gives on Windows. The result holds its own reference to the storage.
HRESULT property_set_storage(IStorage* storage, IPropertySetStorage** out);

}  // namespace platform
