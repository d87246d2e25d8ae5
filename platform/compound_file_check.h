// Stands in for the structure checks that Wine's compound-file reader lacks: it loops or exhausts memory on damaged files.
#pragma once
#include <windows.h>

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

// Deeper trees than this are refused: the platform walks nested storages recursively.
constexpr unsigned max_compound_file_depth = 256;

}  // namespace platform
