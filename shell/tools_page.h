// The "Orrisafe tools" page of a storage file's property sheet.
#pragma once
#include <windows.h>
#include <prsht.h>

class CStoragePropSheet;

namespace shell {

// A page acting for the handler, which it holds from now until the sheet releases the page (or the page is
// destroyed unused). Null when the page cannot be made; nothing is held then.
HPROPSHEETPAGE CreateToolsPage(CStoragePropSheet* handler) noexcept;

}  // namespace shell
