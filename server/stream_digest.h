// A file's content digest: the XOR of the MD5 digests of the successive reads of at most 4096 bytes that
// cover the stream from its start. Equal contents give equal digests; an empty stream gives 16 zero bytes.
#pragma once
#include <windows.h>
#include <objidl.h>

// Seeks stream to its start and reads it to its end (where its position is left). digest is zeroed
// first; returns the stream's failing HRESULT, or S_OK.
HRESULT ComputeStreamDigest(IStream* stream, GUID& digest);
