#include "import_items.h"

#include <shlwapi.h>

#include <platform/check_box_message_box.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <tools/auto_handle.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/text.h>
#include "guid_transform.h"
#include "item_stream.h"
#include "message_boxes.h"
#include "progress_window.h"

namespace {

constexpr ULONG block_size = 4096;

HRESULT last_error() {
    const DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

// An element name no user gives: the fresh file of a replacement is written under one, the old file kept under
// another until the new one has its name.
std::wstring scratch_name() { return tools::guid_to_string(tools::new_guid()); }

// Removes an element the import made; a failure here leaves the error that caused it to be reported.
void remove_element(IStorageFolder* folder, const std::wstring& name) noexcept {
    tools::com_boundary([&] { DeleteElementOrThrow(folder, name); });
}

// One more item done: the bar moves by one and the count of items remaining goes down.
void count_done_item(TransferContext& context) {
    shell::AdvanceProgress(*context.window, 1);
    context.done_items += 1;
}

// Copies the open source into a new file of that name, then records its digest. Anything short of a whole file
// with its digest (a failed read or write, a short write, the user's cancel) removes the new file again. A name
// that is taken fails the create (STG_E_FILEALREADYEXISTS) before anything is written or removed.
HRESULT write_file(TransferContext& context, IStorageFolder* folder, HANDLE source, const std::wstring& name,
                   const ContentKey& key) {
    HRESULT result = S_OK;
    {
        server_ptr<IStorageFile> file;
        HRESULT opened = tools::com_boundary([&] { file = OpenFileOrThrow(folder, name, VARIANT_TRUE); });
        if (FAILED(opened)) return opened;
        result = tools::com_boundary([&]() -> HRESULT {
            const FileKey file_key = GuidTransform(key, GetStorageId(file.get()));
            auto inner = GetStreamOrThrow(file.get());
            tools::interface_holder<IStream> stream(new CItemStream(inner.get(), file_key));
            inner.detach();
            BYTE buffer[block_size];
            for (;;) {
                if (TransferCancelled(context)) return import_cancelled;
                DWORD read = 0;
                if (!ReadFile(source, buffer, block_size, &read, nullptr)) return last_error();
                if (read == 0) break;
                ULONG written = 0;
                HRESULT hr = stream->Write(buffer, read, &written);
                if (FAILED(hr)) return hr;
                if (written != read) return STG_E_WRITEFAULT;
                shell::AdvanceProgress(*context.window, read);
                context.done_bytes += read;
            }
            count_done_item(context);
            stream.reset();
            SetContentDigest(file.get(), GetDigestOrThrow(file.get()));
            return S_OK;
        });
    }
    // The server deletes only an element nobody holds open: the file and its stream are let go first.
    if (result != S_OK) remove_element(folder, name);
    return result;
}

// Puts the file written under scratch in the place of the one named name. The old file is kept under a name of its
// own until the new one has taken its name, and is put back when that fails.
HRESULT replace_file(IStorageFolder* folder, const std::wstring& name, const std::wstring& scratch) {
    std::wstring old_kept;
    HRESULT hr = tools::com_boundary([&] {
        old_kept = scratch_name();
        RenameElementOrThrow(folder, name, old_kept);
    });
    if (FAILED(hr)) {
        remove_element(folder, scratch);
        return hr;
    }
    hr = tools::com_boundary([&] { RenameElementOrThrow(folder, scratch, name); });
    if (FAILED(hr)) {
        tools::com_boundary([&] { RenameElementOrThrow(folder, old_kept, name); });
        remove_element(folder, scratch);
        return hr;
    }
    return tools::com_boundary([&] { DeleteElementOrThrow(folder, old_kept); });
}

// The overwrite question: a plain box when the transfer has one item, else one that can be told not to ask again,
// whose answer then holds for the rest of this transfer.
int ask_overwrite(TransferContext& context, const std::wstring& name) {
    if (context.kept_overwrite_answer) return context.kept_overwrite_answer;
    const std::wstring text = L"File '" + name + L"' already exists.\nOverwrite it?";
    if (context.total_items <= 1)
        return MessageBoxW(shell::BoxOwner(context.owner), text.c_str(), shell::box_caption, MB_YESNO | MB_ICONQUESTION);
    const int answer =
        shell::ShowMessageBoxCheck(context.owner, text.c_str(), shell::box_caption, context.prompt_value_name.c_str());
    if (platform::check_box_answer_kept(context.prompt_value_name.c_str())) context.kept_overwrite_answer = answer;
    return answer;
}

bool is_directory(DWORD attributes) { return attributes & FILE_ATTRIBUTE_DIRECTORY; }

}  // namespace

bool TransferCancelled(TransferContext& context) {
    if (!context.cancelled && context.window && context.window->IsCancelled()) context.cancelled = true;
    return context.cancelled;
}

void UpdateTransferTexts(TransferContext& context, const std::wstring& source_path, const std::wstring& target_name) {
    context.window->SetText2(std::wstring(context.move ? L"Moving" : L"Copying") + L" from '" +
                             PathFindFileNameW(source_path.c_str()) + L"' to '" +
                             PathFindFileNameW(target_name.c_str()) + L"'");
    const ULONGLONG left = context.total_items - context.done_items;
    context.window->SetText3(std::to_wstring(left) + (left == 1 ? L" item remaining" : L" items remaining"));
}

HRESULT ImportFile(TransferContext& context, IStorageFolder* folder, const std::wstring& path, const ContentKey& key) {
    return tools::com_boundary([&]() -> HRESULT {
        UpdateTransferTexts(context, path, context.target_name);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
        if (is_directory(attributes)) return E_INVALIDARG;
        tools::auto_kernel_handle source;
        {
            HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            if (opened == INVALID_HANDLE_VALUE) return last_error();
            source.take_over(opened);
        }
        const std::wstring name = PathFindFileNameW(path.c_str());
        // The server creates no element under a name that is taken, so creating the file is also the question
        // whether it exists: a new file costs no call to the server before it.
        const HRESULT created = write_file(context, folder, source.get(), name, key);
        if (created != STG_E_FILEALREADYEXISTS) return created;
        // Taken by a file, which the user may replace; a folder of that name stays the failure it is.
        bool exists = false;
        HRESULT looked = tools::com_boundary([&] { exists = static_cast<bool>(OpenExistingFileOrThrow(folder, name)); });
        if (FAILED(looked)) return looked;
        if (!exists) return created;

        if (ask_overwrite(context, name) != IDYES) {
            // The stored file stays, and so must the source's.
            context.all_arrived = false;
            count_done_item(context);
            return import_existed;
        }
        const std::wstring scratch = scratch_name();
        HRESULT written = write_file(context, folder, source.get(), scratch, key);
        if (written != S_OK) return written;
        HRESULT replaced = replace_file(folder, name, scratch);
        return FAILED(replaced) ? replaced : import_existed;
    });
}

HRESULT ImportDirectory(TransferContext& context, IStorageFolder* folder, const std::wstring& path,
                        const ContentKey& key) {
    return tools::com_boundary([&]() -> HRESULT {
        UpdateTransferTexts(context, path, context.target_name);
        const std::wstring name = PathFindFileNameW(path.c_str());
        server_ptr<IStorageFolder> child;
        tools::com_boundary([&] { child = OpenFolderOrThrow(folder, name, VARIANT_FALSE); });
        const bool existed = static_cast<bool>(child);
        if (!child) child = OpenFolderOrThrow(folder, name, VARIANT_TRUE);

        HRESULT walk = S_OK;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
        // A link to a folder elsewhere (a junction may even point above itself) is not followed, so what it holds
        // is not in the storage.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            context.all_arrived = false;
        } else {
            WIN32_FIND_DATAW entry{};
            HANDLE found = FindFirstFileW((path + L"\\*.*").c_str(), &entry);
            if (found == INVALID_HANDLE_VALUE) return last_error();
            const std::wstring outer_target = context.target_name;
            context.target_name = name;
            for (BOOL more = TRUE; more && !FAILED(walk); more = FindNextFileW(found, &entry)) {
                if (!wcscmp(entry.cFileName, L".") || !wcscmp(entry.cFileName, L"..")) continue;
                if (TransferCancelled(context)) break;
                const std::wstring child_path = path + L"\\" + entry.cFileName;
                walk = is_directory(entry.dwFileAttributes) ? ImportDirectory(context, child.get(), child_path, key)
                                                             : ImportFile(context, child.get(), child_path, key);
            }
            // An entry the listing could not reach is not imported: the folder is not whole.
            if (!FAILED(walk) && !context.cancelled && GetLastError() != ERROR_NO_MORE_FILES) walk = last_error();
            FindClose(found);
            context.target_name = outer_target;
        }
        if (FAILED(walk)) return walk;
        if (TransferCancelled(context)) return import_cancelled;
        count_done_item(context);
        return existed ? import_existed : import_stored;
    });
}
