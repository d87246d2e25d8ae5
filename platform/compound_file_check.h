// Stands in for the structure checks that Wine's compound-file reader lacks: it loops or exhausts memory on damaged files.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Whether the compound file at path may be handed to the platform's reader. S_OK when its header, its
// sector tables (DIFAT, FAT, mini FAT), its directory tree and the chains of its streams are consistent:
// every sector and directory entry in range, no sector owned twice (so no chain has a cycle), no entry
// reached twice in the tree, no storage nested deeper than max_compound_file_depth, each stream's chain
// long enough for its size, every entry in the tree a storage or a stream whose name is valid UTF-16 with
// no NUL before the end its length gives, and the siblings below each storage in the order in which the
// platform searches them (so that no search or listing misses one). STG_E_FILEALREADYEXISTS for a file that is no compound file,
// STG_E_DOCFILECORRUPT for a damaged one; a file that cannot be opened gives the error the platform's own
// open gives (STG_E_FILENOTFOUND, STG_E_SHAREVIOLATION, ...). Reads only the file's tables.
HRESULT check_compound_file(const wchar_t* path);

// The reader whose order of sibling names a file is held to. Wine's order is known exactly; in Windows' an
// order that a character outside ASCII decides passes, since its reader upper-cases by a table of its own.
enum class sibling_order_reader { running, wine, windows };

// Tests judge files for the other platform's reader; `running` (the default) is the one the program runs on.
void judge_sibling_order_for(sibling_order_reader reader);

// The one element that a file may hold half destroyed. The platform destroys an element stream by stream, and
// frees each stream's sectors from its end before its directory entry changes: a process ended in between leaves
// a stream whose chain ends (in a freed sector) before its stated size, in a storage that may miss children. A
// stream of the root, named record, tells which element that may be: read is given its bytes (when its chain is
// whole) and gives the element's path, the names of the storages from the root down and then its own, or nothing.
struct half_destroyed_element {
    std::wstring record;
    std::function<std::vector<std::wstring>(const std::vector<unsigned char>& bytes)> read;
};

// check_compound_file for a file that may hold that element: the streams of the element (below it, for a storage)
// may also have a chain that ends early. Each such stream is then cut to what its chain holds in the file (its chain
// ended at the last sector it kept, its size what those hold; or, when they hold less than 4096 bytes, no sector
// and size 0, what it kept then being no stream's until the file is copied), so that the platform can destroy
// what is left without following a chain into sectors that are free, or another stream's once reused. Writes
// nothing to a file that has no such stream or fails the check otherwise; gives check_compound_file's verdict on
// the file as it then is.
HRESULT empty_half_destroyed_streams(const wchar_t* path, const half_destroyed_element& element);

// Deeper trees than this are refused: the platform walks nested storages recursively.
constexpr unsigned max_compound_file_depth = 256;

}  // namespace platform
