// A resource of a module as a stream of its own bytes, for readers that take streams (images through GDI+).
#pragma once
#include <windows.h>
#include <objidl.h>
#include <tools/interface_holder.h>

// Empty when the module has no such resource or it cannot be read; nothing is left allocated then.
tools::interface_holder<IStream> ResourceStream(HMODULE module, UINT id, const wchar_t* type);
