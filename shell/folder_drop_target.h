// The effect a drop onto a storage folder proposes for the mouse buttons and keys held.
#pragma once
#include <windows.h>

// Key state 0 copies; left button or Ctrl without Shift or Alt copies; left button or Shift without Ctrl moves;
// the right button alone moves; anything else (Ctrl+Shift) is no drop. Tested on the low byte of the key state
// except where the whole value is named.
DWORD ChooseDropEffect(DWORD keys) noexcept;
