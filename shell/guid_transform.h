// The per-file key: MD5 over the content key, then RC4 keyed by that digest over the element id's 16 bytes
// in their binary GUID layout (Data1, Data2, Data3 little-endian, then Data4).
#pragma once
#include <windows.h>
#include "content_key.h"

// Failures of the system's MD5 throw tools::win_except.
FileKey GuidTransform(const ContentKey& content_key, const GUID& element_id);
