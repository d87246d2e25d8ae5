#include "storage_data_object.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include <platform/item_data_object.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include "dword_formats.h"
#include "file_descriptors.h"
#include "format_enumerator.h"
#include "guid_transform.h"
#include "item_commands.h"
#include "item_stream.h"
#include "storage_shell_folder.h"

namespace {

// shell32's item data object, bound by its ordinal (it has no name in every version).
using create_item_data_function = HRESULT(WINAPI*)(PCIDLIST_ABSOLUTE, UINT, PCUIDLIST_RELATIVE_ARRAY, IDataObject**);

tools::interface_holder<IDataObject> shell_item_data(const ITEMIDLIST* folder, UINT count,
                                                     PCUITEMID_CHILD_ARRAY items) {
    static const auto create = reinterpret_cast<create_item_data_function>(
        GetProcAddress(GetModuleHandleW(L"shell32.dll"), MAKEINTRESOURCEA(83)));
    if (!create) _com_issue_error(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    tools::interface_holder<IDataObject> made;
    HRESULT hr = create(folder, count, reinterpret_cast<PCUIDLIST_RELATIVE_ARRAY>(items), made.put());
    if (FAILED(hr)) _com_issue_error(hr);
    if (!made) _com_issue_error(E_UNEXPECTED);
    // What the shell's object refuses to keep (Wine's keeps nothing) is kept by ours over it; storage items have no
    // file names.
    return tools::interface_holder<IDataObject>(new platform::item_data_object(made.get(), false));
}

bool is_format(const FORMATETC* format, CLIPFORMAT id) { return format && format->cfFormat == id; }

// The aspect and medium a virtual-file format needs, or the error that says what is wrong.
HRESULT check_request(const FORMATETC* format, DWORD tymed) {
    if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!(format->tymed & tymed)) return DV_E_TYMED;
    return S_OK;
}

}  // namespace

CLIPFORMAT FileContentsFormat() {
    static const CLIPFORMAT id = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILECONTENTS));
    return id;
}

CLIPFORMAT FileGroupDescriptorFormat() {
    static const CLIPFORMAT id = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILEDESCRIPTORW));
    return id;
}

// data_object

void* data_object::query_own_interface(REFIID iid) {
    if (IsEqualIID(iid, __uuidof(IAsyncOperation))) return static_cast<IAsyncOperation*>(this);
    return nullptr;
}

STDMETHODIMP data_object::SetAsyncMode(BOOL mode) {
    async_mode_ = mode;
    return S_OK;
}

STDMETHODIMP data_object::GetAsyncMode(BOOL* mode) {
    if (!mode) return E_POINTER;
    *mode = async_mode_;
    return S_OK;
}

STDMETHODIMP data_object::StartOperation(IBindCtx*) {
    in_operation_ = TRUE;
    return S_OK;
}

STDMETHODIMP data_object::InOperation(BOOL* in_operation) {
    if (!in_operation) return E_POINTER;
    *in_operation = in_operation_;
    return S_OK;
}

STDMETHODIMP data_object::EndOperation(HRESULT, IBindCtx*, DWORD) {
    in_operation_ = FALSE;
    return S_OK;
}

// CStorageDataObject

CStorageDataObject::CStorageDataObject(CStorageShellFolder* folder, const ITEMIDLIST* folder_list, UINT count,
                                       PCUITEMID_CHILD_ARRAY items, const ContentKey& content_key)
    : folder_(tools::interface_holder<CStorageShellFolder>::add_ref(folder)),
      content_key_(content_key),
      folder_list_(CIdList::Clone(folder_list)) {
    FileContentsFormat();
    FileGroupDescriptorFormat();
    for (UINT i = 0; i < count; ++i) items_.push_back(CIdList::Clone(items[i]));
    inner_ = shell_item_data(folder_list_.get(), count, items);
    MarkStorageSource(inner_.get());
}

STDMETHODIMP CStorageDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium) return E_INVALIDARG;
    if (SUCCEEDED(inner_->GetData(format, medium))) return S_OK;
    return tools::com_boundary([&]() -> HRESULT {
        if (is_format(format, FileContentsFormat())) {
            HRESULT hr = check_request(format, TYMED_ISTREAM);
            return FAILED(hr) ? hr : GetFileContents(format, medium);
        }
        if (is_format(format, FileGroupDescriptorFormat())) {
            HRESULT hr = check_request(format, TYMED_HGLOBAL);
            return FAILED(hr) ? hr : BuildFileGroupDescriptor(medium);
        }
        return DV_E_FORMATETC;
    });
}

STDMETHODIMP CStorageDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP CStorageDataObject::QueryGetData(FORMATETC* format) {
    if (!format) return E_INVALIDARG;
    if (SUCCEEDED(inner_->QueryGetData(format))) return S_OK;
    if (is_format(format, FileContentsFormat())) {
        if (!(format->dwAspect & DVASPECT_CONTENT)) return DV_E_DVASPECT;
        return (format->tymed & TYMED_ISTREAM) ? S_OK : DV_E_TYMED;
    }
    if (is_format(format, FileGroupDescriptorFormat())) return check_request(format, TYMED_HGLOBAL);
    return DV_E_FORMATETC;
}

STDMETHODIMP CStorageDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return E_NOTIMPL; }

STDMETHODIMP CStorageDataObject::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
    if (!inner_) return E_POINTER;
    DWORD performed = DROPEFFECT_NONE;
    // A target that read the items as files and moved them reports it here: every file it read to its end leaves
    // the storage, without a question, once; a report before the target read anything deletes nothing. The list may
    // be older than the storage's contents (read by an earlier paste, or while others added to it), so the items are
    // not deleted whole.
    if (format && medium && format->cfFormat == DwordFormatId(DwordFormat::performed_drop_effect) &&
        !descriptors_.empty() && ReadDwordMedium(*medium, performed) && performed == DROPEFFECT_MOVE) {
        std::vector<shell::MovedEntry> moved(descriptors_.size());
        for (size_t i = 0; i < moved.size(); ++i) {
            const FILEDESCRIPTORW& record = descriptors_[i];
            moved[i] = {record.cFileName, (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                        (static_cast<UINT64>(record.nFileSizeHigh) << 32) | record.nFileSizeLow, GUID_NULL};
            // A copy cut short, skipped or never begun is no reason to lose the storage's own.
            for (const hand_out& given : handed_out_[i])
                if (given.whole->load()) moved[i].received = given.element;
        }
        descriptors_.clear();
        handed_out_.clear();
        tools::com_boundary([&] {
            shell::DeleteMovedItems(*folder_.get(), folder_->GetFolderOwnerWindow(nullptr), items_, moved);
        });
    }
    return inner_->SetData(format, medium, release);
}

STDMETHODIMP CStorageDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return tools::com_boundary([&] {
        std::vector<FORMATETC> formats = platform::listed_formats(inner_.get(), direction);
        if (direction == DATADIR_GET) {
            formats.push_back({FileContentsFormat(), nullptr, DVASPECT_CONTENT, 0, TYMED_ISTREAM});
            formats.push_back({FileGroupDescriptorFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
        } else if (direction == DATADIR_SET) {
            formats.push_back({DwordFormatId(DwordFormat::performed_drop_effect), nullptr, DVASPECT_CONTENT, 0,
                               TYMED_HGLOBAL});
            formats.push_back(
                {DwordFormatId(DwordFormat::paste_succeeded), nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL});
        }
        *out = new CFormatEnumerator(std::move(formats));
    });
}

STDMETHODIMP CStorageDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP CStorageDataObject::DUnadvise(DWORD) { return E_NOTIMPL; }
STDMETHODIMP CStorageDataObject::EnumDAdvise(IEnumSTATDATA**) { return E_NOTIMPL; }

HRESULT CStorageDataObject::BuildFileGroupDescriptor(STGMEDIUM* medium) {
    if (descriptors_.empty()) {
        std::vector<FILEDESCRIPTORW> collected;
        CollectDescriptors(folder_->GetServer().get(), items_, collected);
        descriptors_ = std::move(collected);
        handed_out_.assign(descriptors_.size(), {});
    }
    const SIZE_T size = sizeof(FILEGROUPDESCRIPTORW) - sizeof(FILEDESCRIPTORW) +
                        descriptors_.size() * sizeof(FILEDESCRIPTORW);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!memory) return E_OUTOFMEMORY;
    auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(memory));
    if (!group) {
        GlobalFree(memory);
        return E_OUTOFMEMORY;
    }
    group->cItems = static_cast<UINT>(descriptors_.size());
    std::memcpy(reinterpret_cast<BYTE*>(group) + offsetof(FILEGROUPDESCRIPTORW, fgd), descriptors_.data(),
                descriptors_.size() * sizeof(FILEDESCRIPTORW));
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT CStorageDataObject::GetFileContents(const FORMATETC* format, STGMEDIUM* medium) {
    if (format->lindex < 0 || static_cast<size_t>(format->lindex) >= descriptors_.size()) return DV_E_LINDEX;
    auto server = folder_->GetServer();
    if (!server) return E_POINTER;
    auto file = OpenFileOrThrow(server.get(), descriptors_[format->lindex].cFileName, VARIANT_FALSE);
    const GUID id = GetStorageId(file.get());
    const FileKey key = GuidTransform(content_key_, id);
    auto stream = GetStreamOrThrow(file.get());
    const FILEDESCRIPTORW& record = descriptors_[format->lindex];
    auto whole = std::make_shared<std::atomic<bool>>(false);
    handed_out_[format->lindex].push_back({id, whole});
    auto* contents = new (std::nothrow) CItemStream(stream.get(), key);
    if (!contents) return E_OUTOFMEMORY;
    stream.detach();
    contents->WatchReading((static_cast<UINT64>(record.nFileSizeHigh) << 32) | record.nFileSizeLow, std::move(whole));
    medium->tymed = TYMED_ISTREAM;
    medium->pstm = contents;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}
