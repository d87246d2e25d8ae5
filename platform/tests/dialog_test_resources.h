// Resource ids shared by the framework test program and its test DLL: the same ids name different templates in each.
#pragma once

#define IDD_SAMPLE 200
#define IDD_PAGE 201
#define IDC_SAMPLE_TEXT 1001
