// The shell browser that shows a folder, found through the folder's site or through a window, and the refresh of its
// view; and the window that owns the boxes a folder shows.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <tools/interface_holder.h>

namespace shell {

// The browser that answers CWM_GETISHELLBROWSER for the window; empty when none does. Only a window of this process
// can answer with a pointer this process may use.
tools::interface_holder<IShellBrowser> GetWindowBrowser(HWND window);
// The browser of a folder: the site's (its IShellBrowser service) when there is a site, else the window's.
tools::interface_holder<IShellBrowser> GetFolderBrowser(IUnknown* site, HWND window);
// Refreshes the active view of the folder's browser (as RefreshWindowView does); nothing when there is none.
void RefreshFolderView(IUnknown* site, HWND window);
// Refreshes the active view of the window's browser, found through the browser's services when it names none.
void RefreshWindowView(HWND window);

// The owner of a folder's boxes: the window given, else the window of the site's browser, else the calling thread's
// active window.
HWND GetFolderOwnerWindow(HWND window, IUnknown* site);

}  // namespace shell
