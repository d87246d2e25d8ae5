// Stands in for the edit control's balloon tip (EM_SHOWBALLOONTIP), which Wine accepts but never shows.
#pragma once
#include <windows.h>

namespace platform {

// Shows a balloon with a title, a text and a standard tip icon (TTI_INFO, TTI_WARNING, ...) under an edit
// control. It goes away when the user types into the edit or the edit loses the focus.
void show_balloon_tip(HWND edit, const wchar_t* title, const wchar_t* text, int icon);

// Hides a balloon shown by show_balloon_tip, if any.
void hide_balloon_tip(HWND edit);

}  // namespace platform
