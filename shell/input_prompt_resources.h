// Resource ids of the one-line input prompt, a dialog of the shell extension's own resources.
#pragma once

#define IDD_INPUT_PROMPT 132
#define IDC_INPUT_LINE 1018
#define IDC_INPUT_PROMPT 1019
#define IDC_INPUT_PLAIN 1020
#define IDC_INPUT_MASKED 1021
#define IDC_INPUT_MASKED_OTHER 1022
