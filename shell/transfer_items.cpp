#include "transfer_items.h"

#include <shlwapi.h>

#include <platform/check_box_message_box.h>
#include <server/client/server_calls.h>
#include <tools/com_error.h>
#include <tools/text.h>
#include "dword_formats.h"
#include "format_size.h"
#include "id_list_set.h"
#include "import_items.h"
#include "message_boxes.h"
#include "progress_window.h"
#include "storage_change_notify.h"
#include "storage_item_id.h"
#include "storage_item_path.h"
#include "storage_shell_folder.h"

namespace {

bool is_directory(DWORD attributes) { return attributes & FILE_ATTRIBUTE_DIRECTORY; }

bool measure(const std::wstring& path, ULONGLONG& bytes, ULONGLONG& items) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    items += 1;
    if (!is_directory(attributes)) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
        bytes += (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    WIN32_FIND_DATAW entry{};
    HANDLE found = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return false;
    bool whole = true;
    do {
        if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
        if (is_directory(entry.dwFileAttributes)) {
            whole = measure(path + L"\\" + entry.cFileName, bytes, items);
        } else {
            bytes += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            items += 1;
        }
    } while (whole && FindNextFileW(found, &entry));
    if (whole && GetLastError() != ERROR_NO_MORE_FILES) whole = false;
    FindClose(found);
    return whole;
}

// The display name of the folder that receives the items: the storage file's name at the top.
std::wstring folder_name(CStorageShellFolder& folder) {
    if (folder.IsRoot()) return PathFindFileNameW(IdListPath(folder.AbsoluteIdList()).c_str());
    return LastStorageItem(folder.AbsoluteIdList())->name;
}

// The value of the overwrite question's "don't ask again" answer lives as long as its transfer.
class prompt_value {
public:
    prompt_value() : name_(tools::guid_to_string(tools::new_guid())) {}
    ~prompt_value() { platform::forget_check_box_answer(name_.c_str()); }
    prompt_value(const prompt_value&) = delete;
    prompt_value& operator=(const prompt_value&) = delete;
    const std::wstring& name() const noexcept { return name_; }

private:
    std::wstring name_;
};

// Tells the shell of a new (or replaced) top-level item.
void notify_imported(CStorageShellFolder& folder, IStorageFolder* server, const std::wstring& path, bool file,
                     HRESULT result) {
    auto info = FindElementInfoOrThrow(server, PathFindFileNameW(path.c_str()));
    CIdList item = BuildStorageItemId(info.get());
    CIdList full = folder.FullIdListOf(item.get());
    const StorageChange kind = file && result == import_existed ? StorageChange::update : StorageChange::create;
    NotifyStorageChange(kind, folder.StorageRootIdList(), full.get());
}

// Runs the transfer once the items are known: the effect it carried out, DROPEFFECT_NONE when it did not run to its
// end. A move of which anything stayed out of the storage is a copy: its source must keep every item.
DWORD run_transfer(CStorageShellFolder& folder, const std::vector<std::wstring>& paths, size_t selected, bool move,
                  HWND owner, const ContentKey& key) {
    shell::progress_text_record parameters = shell::ShellProgress((move ? 2 : 0) + (selected == 1 ? 0 : 1), owner,
                                                                  move ? L"Moving..." : L"Copying...");
    parameters.texts[1] = L"Calculating source size";
    auto progress = shell::RunProgressWindow(parameters);
    shell::IProgressWindow& window = progress->Window();
    const HWND progress_window = progress->Dialog();
    auto server = folder.GetServer();

    TransferContext context;
    for (const std::wstring& path : paths) {
        ULONGLONG bytes = 0, items = 0;
        if (!CalculateSourceSize(path, bytes, items)) {
            const std::wstring text =
                std::wstring(L"Unable to calculate source size.\nProbably the objects you try to ") +
                (move ? L"move" : L"copy") +
                L" into storage are not file system objects or an access is denied due to security reasons.";
            MessageBoxW(shell::BoxOwner(progress_window), text.c_str(), shell::box_caption, MB_ICONERROR);
            return DROPEFFECT_NONE;
        }
        context.total_bytes += bytes;
        context.total_items += items;
    }
    window.SetText2(L"Start transferring");
    window.SetText4(parameters.texts[0] + L" " + std::to_wstring(context.total_items) +
                    (context.total_items == 1 ? L" item (" : L" items (") +
                    shell::FormatSize(context.total_bytes, shell::size_format::units) + L")");
    window.SetRange(0, context.total_bytes + context.total_items);
    window.SetPos(0);

    prompt_value prompt;
    context.owner = progress_window;
    context.move = move;
    context.prompt_value_name = prompt.name();
    context.window = &window;
    context.folder = &folder;
    context.target_name = folder_name(folder);
    for (const std::wstring& path : paths) {
        if (TransferCancelled(context)) break;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool directory = attributes != INVALID_FILE_ATTRIBUTES && is_directory(attributes);
        HRESULT result = attributes == INVALID_FILE_ATTRIBUTES ? HRESULT_FROM_WIN32(GetLastError())
                         : directory ? ImportDirectory(context, server.get(), path, key)
                                     : ImportFile(context, server.get(), path, key);
        if (FAILED(result)) {
            const std::wstring heading = std::wstring(L"Unable to ") + (move ? L"move '" : L"copy '") + path + L"'";
            shell::ShowErrorBox(progress_window, static_cast<DWORD>(result), heading.c_str());
            return DROPEFFECT_NONE;
        }
        if (result != import_cancelled && !(directory && result == import_existed))
            notify_imported(folder, server.get(), path, !directory, result);
    }
    if (context.cancelled) return DROPEFFECT_NONE;
    return move && context.all_arrived ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
}

}  // namespace

bool CalculateSourceSize(const std::wstring& path, ULONGLONG& bytes, ULONGLONG& items) {
    bytes = items = 0;
    return measure(path, bytes, items);
}

bool TransferItems(CStorageShellFolder& folder, IDataObject* data, HWND owner, DWORD* effect) {
    DWORD mode = DROPEFFECT_NONE;
    if (effect)
        mode = *effect;
    else
        GetDwordFormat(data, DwordFormat::preferred_drop_effect, mode);
    mode = (mode & DROPEFFECT_MOVE) ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    DWORD performed = DROPEFFECT_NONE;
    try {
        if (data && !IsStorageSource(data)) {
            const ContentKey key = folder.GetStorageKey();
            IdListSet items;
            if (GetShellIdList(items, data) > 0) {
                const std::vector<std::wstring> paths = IdListSetPaths(items);
                performed = run_transfer(folder, paths, items.count(), mode == DROPEFFECT_MOVE, owner, key);
                folder.RefreshView(owner);
            }
        }
    } catch (...) {
        // A failure outside any one item (no server, no progress window) ends the transfer without a box.
        performed = DROPEFFECT_NONE;
    }
    const bool complete = performed != DROPEFFECT_NONE;
    if (complete) {
        SetDwordFormat(data, DwordFormat::performed_drop_effect, performed);
        SetDwordFormat(data, DwordFormat::paste_succeeded, performed);
    }
    if (effect) *effect = performed;
    return complete;
}

bool PasteFromClipboard(CStorageShellFolder& folder, HWND window) {
    tools::interface_holder<IDataObject> data;
    if (FAILED(OleGetClipboard(data.put())) || !data) return false;
    return TransferItems(folder, data.get(), folder.GetFolderOwnerWindow(window), nullptr);
}
