// Interim system services until the foundation library provides them.
#pragma once
#include <windows.h>
#include "tools/text.h"

namespace tools {
HANDLE create_global_mutex();
bool is_guest_user();
void open_user_guide(const wchar_t* caption, HWND owner, HMODULE module);
}  // namespace tools
