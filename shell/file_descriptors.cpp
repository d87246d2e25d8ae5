#include "file_descriptors.h"

#include <server/client/server_calls.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include "storage_item_id.h"

namespace {

constexpr DWORD folder_descriptor_flags = FD_ATTRIBUTES | FD_CREATETIME | FD_ACCESSTIME | FD_WRITESTIME | FD_PROGRESSUI;

// The record of one element, below the relative path; its type as the server reports it.
FILEDESCRIPTORW describe(IElementInfo* info, long type, const std::wstring& relative, std::wstring& name) {
    name = GetNameOrThrow(info).text();
    if (!IsPlainFileName(name)) _com_issue_error(HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    FILEDESCRIPTORW record{};
    if (type == FolderElementType) {
        record.dwFlags = folder_descriptor_flags;
        record.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (type == FileElementType) {
        record.dwFlags = folder_descriptor_flags | FD_FILESIZE;
        record.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        const UINT64 size = GetSizeOrThrow(info);
        record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        record.nFileSizeLow = static_cast<DWORD>(size);
    } else {
        _com_issue_error(E_INVALIDARG);
    }
    const ElementTimes times = GetTimesOrThrow(info);
    record.ftCreationTime = times.creation;
    record.ftLastAccessTime = times.access;
    record.ftLastWriteTime = times.modification;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (path.size() >= MAX_PATH) _com_issue_error(E_OUTOFMEMORY);
    path.copy(record.cFileName, path.size());
    return record;
}

// The folder's children, after the folder's own record.
void collect_below(IStorageFolder* parent, const std::wstring& name, const std::wstring& path,
                   std::vector<FILEDESCRIPTORW>& descriptors) {
    auto folder = OpenFolderOrThrow(parent, name, VARIANT_FALSE);
    auto children = EnumElementsOrThrow(folder.get());
    while (auto info = NextOrThrow(children.get())) {
        const long type = GetTypeOrThrow(info.get());
        std::wstring child;
        descriptors.push_back(describe(info.get(), type, path, child));
        if (type == FolderElementType) collect_below(folder.get(), child, path + L"\\" + child, descriptors);
    }
}

}  // namespace

bool IsPlainFileName(const std::wstring& name) {
    if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
    return name.find_first_of(L"\\/:") == std::wstring::npos;
}

void CollectDescriptors(IStorageFolder* folder, const std::vector<CIdList>& items,
                        std::vector<FILEDESCRIPTORW>& descriptors) {
    for (const CIdList& item : items) {
        auto info = FindElementInfoOrThrow(folder, GetStorageItem(item.get())->name);
        const long type = GetTypeOrThrow(info.get());
        std::wstring name;
        descriptors.push_back(describe(info.get(), type, L"", name));
        if (type == FolderElementType) collect_below(folder, name, name, descriptors);
    }
}
