#include "dword_formats.h"

#include <server/idl/storage_identities.h>

namespace {

const wchar_t* const format_names[] = {L"Performed DropEffect", L"Preferred DropEffect", L"Paste Succeeded",
                                       StorageSourceFormatName};

FORMATETC dword_format(DwordFormat format) {
    return {DwordFormatId(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

}  // namespace

CLIPFORMAT DwordFormatId(DwordFormat format) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(format_names[static_cast<int>(format)]));
}

bool SetDwordFormat(IDataObject* data, DwordFormat format, DWORD value) {
    if (!data) return false;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    if (!memory) return false;
    auto* bytes = static_cast<DWORD*>(GlobalLock(memory));
    if (!bytes) {
        GlobalFree(memory);
        return false;
    }
    *bytes = value;
    GlobalUnlock(memory);
    FORMATETC wanted = dword_format(format);
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    // A refused medium stays ours.
    if (FAILED(data->SetData(&wanted, &medium, TRUE))) {
        GlobalFree(memory);
        return false;
    }
    return true;
}

bool ReadDwordMedium(const STGMEDIUM& medium, DWORD& value) {
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal || GlobalSize(medium.hGlobal) < sizeof(DWORD)) return false;
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(medium.hGlobal));
    if (!bytes) return false;
    value = *reinterpret_cast<const UNALIGNED DWORD*>(bytes);
    GlobalUnlock(medium.hGlobal);
    return true;
}

bool GetDwordFormat(IDataObject* data, DwordFormat format, DWORD& value) {
    if (!data) return false;
    FORMATETC wanted = dword_format(format);
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&wanted, &medium))) return false;
    const bool read = ReadDwordMedium(medium, value);
    ReleaseStgMedium(&medium);
    return read;
}

bool IsStorageSource(IDataObject* data) {
    DWORD mark = 0;
    return GetDwordFormat(data, DwordFormat::storage_source, mark) && mark == 1;
}

void MarkStorageSource(IDataObject* data) { SetDwordFormat(data, DwordFormat::storage_source, 1); }
