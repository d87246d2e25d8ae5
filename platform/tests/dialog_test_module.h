// The test DLL's export: a property page made from the DLL's own template.
#pragma once
#include <windows.h>
#include <prsht.h>

// What the DLL's page saw, read back by the test program.
struct module_page_log {
    HWND window;
    LONG initialised;
    LONG applied;
    LONG released;
    wchar_t text[64];
};

extern "C" {
// A page for a sheet; it reports to log until the sheet releases it, then deletes itself. Null on failure.
using create_module_page_function = HPROPSHEETPAGE (*)(module_page_log* log);
}
