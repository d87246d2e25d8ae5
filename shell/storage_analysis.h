// How much of a storage file its contents need, estimated from the compound file's directory alone (names, types
// and sizes; no stream is read), and the share of the file that is wasted.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <string>

namespace shell {

// What the figure leaves out of a file's size: the compound file's own header and tables.
inline constexpr ULONGLONG storage_file_overhead = 0x5000;

// The bytes the storage's elements need: each element 104 bytes of directory, each property set its size, each
// other stream its size in whole 4096-byte blocks (one more than the size rounded down; none when empty), and each
// storage what it holds. Failures throw their HRESULT as a COM error.
ULONGLONG MeasureStorageUsage(IStorage* storage);

// Opens the compound file itself (read-write, exclusive), which the server must have closed, and measures it.
// A file the platform's reader must not be given (damaged tables) is refused before it is opened. Failures throw
// the HRESULT as a COM error.
ULONGLONG OpenCompoundFile(const std::wstring& path);

// The file size that the figure compares with: the size less the fixed overhead, 0 for a file no larger than it.
ULONGLONG ComparableFileSize(ULONGLONG file_size);

// The wasted share in percent, 0 to 100: 0 for a comparable size of 0, else 100 - used * 100 / (size + 1), with used
// taken as no more than the size.
ULONGLONG FragmentationPercent(ULONGLONG comparable_size, ULONGLONG used);

// Defragmentation is offered above this share.
inline constexpr ULONGLONG defragmentation_threshold = 25;

}  // namespace shell
