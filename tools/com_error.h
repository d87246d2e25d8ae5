// The COM error object (_com_error) and _com_issue_error; MinGW ships both header-only in comdef.h.
#pragma once
#include <windows.h>
#include <comdef.h>
