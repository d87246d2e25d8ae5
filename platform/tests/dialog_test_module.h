// The test DLL's exports: a dialog and a property page made from the DLL's own templates.
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
// Runs the DLL's dialog modally; it ends itself at once. Copies its caption and static text, "|" between them.
using run_module_dialog_function = INT_PTR (*)(wchar_t* texts, int size);
}
