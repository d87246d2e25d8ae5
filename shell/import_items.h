// Files and folders of the file system imported into a folder of a storage, one at a time, through the server: each
// file in 4096-byte blocks through its item stream, its digest recorded once it is whole.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <string>

#include "content_key.h"

namespace shell {
class IProgressWindow;
}
class CStorageShellFolder;

// What an import returns besides a failing HRESULT: a new element, an existing one (a file replaced or kept at the
// user's wish, a folder filled), or the user's cancel (a success code, not an error).
inline constexpr HRESULT import_stored = S_OK;
inline constexpr HRESULT import_existed = 1;
inline constexpr HRESULT import_cancelled = 0x7FFFFFFF;

// One transfer's state, handed to every import.
struct TransferContext {
    HWND owner = nullptr;  // the progress window's own window, owner of the imports' boxes
    bool move = false;
    // The registry value under which the overwrite question keeps its "don't ask again" answer; made per transfer and
    // removed when the transfer ends.
    std::wstring prompt_value_name;
    ULONGLONG total_bytes = 0, done_bytes = 0;
    ULONGLONG total_items = 0, done_items = 0;
    shell::IProgressWindow* window = nullptr;
    CStorageShellFolder* folder = nullptr;
    // The display name of the storage folder that receives the items being imported.
    std::wstring target_name;
    // Set once the user's cancel was seen: whatever an import then returns, the transfer did not run to its end.
    bool cancelled = false;
    // The answer to the overwrite question once the user ticked "don't ask again" (0 before), so that the rest of
    // this transfer gets what the user answered, not the box's default.
    int kept_overwrite_answer = 0;
    // Cleared once something of the source stays out of the storage although the transfer goes on: a file kept at
    // the user's wish, the contents of a linked folder that is not followed. The source must then keep its items.
    bool all_arrived = true;
};

// Whether the user cancelled; the context remembers it.
bool TransferCancelled(TransferContext& context);

// The two status lines: what is copied (or moved) from where to where, and how many items remain.
void UpdateTransferTexts(TransferContext& context, const std::wstring& source_path, const std::wstring& target_name);

// A file: stored new (import_stored), replaced or kept (import_existed), cancelled, or a failing HRESULT. A file that
// does not arrive whole is not left in the storage, and a file it was to replace stays as it was. A finished file,
// kept ones included, counts as one done item and moves the bar by one besides its bytes.
HRESULT ImportFile(TransferContext& context, IStorageFolder* folder, const std::wstring& path, const ContentKey& key);
// A folder and everything in it: created and filled (import_stored), an existing folder filled (import_existed),
// cancelled, or the first failing HRESULT. A link to another folder (a reparse point) is created empty, never
// followed.
HRESULT ImportDirectory(TransferContext& context, IStorageFolder* folder, const std::wstring& path,
                        const ContentKey& key);
