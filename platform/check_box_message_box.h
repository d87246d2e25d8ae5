// Stands in for the shell utilities' check-box message box (shlwapi ordinal 191), which under Wine answers Yes and
// No as OK and Cancel and forgets a ticked box.
#pragma once
#include <windows.h>

namespace platform {

// owner, text, caption, style, default result, value name of the remembered answer.
using check_box_message_box_function = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, int, LPCWSTR);

// The function to call given the system's export: null without one, ours where the system's is broken (Wine).
check_box_message_box_function check_box_message_box(FARPROC system_export);

// The same for the export of the shell utilities already loaded in the process (ordinal 191 of shlwapi.dll, which is
// not loaded for this purpose): null when the library is not loaded or has no such export.
check_box_message_box_function bound_check_box_message_box();

// Ours: the message with its icon, a "don't show again" box and the buttons of MB_OK, MB_OKCANCEL or MB_YESNO.
// A ticked answer (other than Cancel) is kept per user under value_name and returned from then on without asking.
int WINAPI message_box_check(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, int default_result,
                             LPCWSTR value_name);

// Whether an answer is kept under value_name (the user ticked "don't show again"), where the system's box and ours
// keep it; and its removal.
bool check_box_answer_kept(LPCWSTR value_name);
void forget_check_box_answer(LPCWSTR value_name);

}  // namespace platform
