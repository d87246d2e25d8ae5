// The folder's columns: the texts the view shows for each item, and the order CompareIDs gives by each column.
#include "storage_shell_folder.h"

#include <shlwapi.h>
#include <string.h>

#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "item_type_text.h"
#include "storage_item_id.h"
#include "storage_item_path.h"

namespace {

constexpr size_t comment_column_length = 100;

// A comparison's sign only: the shell reads the low 16 bits of the result, where a larger difference could turn
// into the other sign.
int sign_of(int difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

int compare_texts(const std::wstring& a, const std::wstring& b) { return sign_of(_wcsicmp(a.c_str(), b.c_str())); }

std::wstring comment_of_record(CStorageShellFolder& folder, IStorageFolder* server, const ITEMIDLIST* item) {
    return GetCommentColumnText(folder, FindElementOrThrow(server, GetStorageItem(item)->name).get());
}

}  // namespace

std::wstring SizeColumnText(ULONGLONG size) {
    const ULONGLONG kilobytes = size == 0 ? 0 : size <= 1024 ? 1 : (size >> 10) + 1;
    return std::to_wstring(kilobytes) + L" Kb";
}

std::wstring GetCommentColumnText(CStorageShellFolder& folder, IStorageElement* element) {
    if (!HasItemComment(element)) return L"";
    std::wstring text = GetItemComment(element, folder.GetStorageKey().bytes());
    if (text.size() > comment_column_length) {
        text.resize(comment_column_length);
        text.replace(comment_column_length - 3, 3, L"...");
    }
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    return text;
}

std::wstring ItemRecordTypeText(const StorageItem& item) {
    return ItemTypeText(item.type == FolderElementType ? nullptr : item.name);
}

STDMETHODIMP CStorageShellFolder::GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* out) {
    if (!out) return E_POINTER;
    if (column >= std::size(folder_columns)) return E_FAIL;
    return tools::com_boundary([&] {
        out->fmt = LVCFMT_LEFT;
        out->cxChar = folder_columns[column].width;
        if (!item) {
            out->str.uType = STRRET_CSTR;
            lstrcpynA(out->str.cStr, folder_columns[column].title, MAX_PATH);
            return;
        }
        const StorageItem* record = GetStorageItem(item);
        std::wstring text;
        switch (column) {
        case 0: text = record->name; break;
        case 1:
            if (record->type == FileElementType) text = SizeColumnText(record->size);
            break;
        case 2: text = ItemRecordTypeText(*record); break;
        default: text = comment_of_record(*this, GetServer().get(), item); break;
        }
        out->str.uType = STRRET_WSTR;
        HRESULT hr = SHStrDupW(text.c_str(), &out->str.pOleStr);
        if (FAILED(hr)) _com_issue_error(hr);
    });
}

STDMETHODIMP CStorageShellFolder::CompareIDs(LPARAM how, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) {
    return tools::com_boundary([&]() -> HRESULT {
        const StorageItem* last_a = LastStorageItem(a);
        const StorageItem* last_b = LastStorageItem(b);
        const bool folders = last_a->type == FolderElementType;
        int result = 0;
        if (last_a->type != last_b->type) {
            // Folders first, whatever the column.
            result = folders ? -1 : 1;
        } else if (HIWORD(how)) {
            result = compare_texts(RelativePathText(a), RelativePathText(b));
        } else {
            switch (LOWORD(how)) {
            case 0: result = compare_texts(RelativePathText(a), RelativePathText(b)); break;
            case 1: {
                // Equal sizes give 1, as the column has always sorted.
                const ULONGLONG size_a = last_a->size, size_b = last_b->size;
                if (!folders) result = size_a >= size_b ? 1 : -1;
                break;
            }
            case 2:
                if (!folders) result = compare_texts(ItemRecordTypeText(*last_a), ItemRecordTypeText(*last_b));
                break;
            case 3: {
                auto server = GetServer();
                result = compare_texts(comment_of_record(*this, server.get(), a), comment_of_record(*this, server.get(), b));
                break;
            }
            default: _com_issue_error(E_INVALIDARG);
            }
        }
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(static_cast<SHORT>(result)));
    });
}
