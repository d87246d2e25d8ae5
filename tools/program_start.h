// The start of the programs that refuse some users: the product mutex, then the Guest and Safe Mode refusals.
#pragma once
#include "auto_handle.h"

namespace tools {

// Why a program of the product may not start: the text to show, or null when it may. The Guest test comes first.
const wchar_t* startup_refusal(bool guest, bool safe_mode);

// Creates the product mutex (create_global_mutex), then refuses a member of the Guests group or a system in Safe
// Mode with a warning box captioned "Orrisafe" and ends the process with -1. A failure of either step shows
// "An error has occured:" with its text under error_caption and ends the process with 1. Returns the mutex, to be
// held for as long as the program runs.
auto_kernel_handle start_or_end_process(const wchar_t* error_caption);

}  // namespace tools
