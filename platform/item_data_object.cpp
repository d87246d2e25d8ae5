// Stands in for SetData of the shell's item data object, and for its file names of items not on disk (Wine).
#include "item_data_object.h"

#include <shlobj.h>
#include <algorithm>
#include <cstring>

namespace platform {

namespace {

bool wants_global(const FORMATETC* format) {
    return format && format->dwAspect == DVASPECT_CONTENT && (format->tymed & TYMED_HGLOBAL);
}

// The refusals that mean "this object keeps no such data", as opposed to a bad argument of the caller.
bool refused_format(HRESULT hr) { return hr == E_NOTIMPL || hr == E_INVALIDARG || hr == DV_E_FORMATETC; }

}  // namespace

std::vector<FORMATETC> listed_formats(IDataObject* data, DWORD direction) {
    std::vector<FORMATETC> formats;
    tools::interface_holder<IEnumFORMATETC> listed;
    if (FAILED(data->EnumFormatEtc(direction, listed.put())) || !listed) return formats;
    FORMATETC format{};
    while (listed->Next(1, &format, nullptr) == S_OK) {
        // Target devices are not handed on; the caller frees none of ours.
        if (format.ptd) CoTaskMemFree(format.ptd);
        format.ptd = nullptr;
        formats.push_back(format);
    }
    return formats;
}

HGLOBAL copy_global(HGLOBAL source) {
    const SIZE_T size = source ? GlobalSize(source) : 0;
    if (!size) return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!copy) return nullptr;
    const void* from = GlobalLock(source);
    void* to = GlobalLock(copy);
    if (from && to) std::memcpy(to, from, size);
    if (from) GlobalUnlock(source);
    if (to) GlobalUnlock(copy);
    if (!from || !to) {
        GlobalFree(copy);
        return nullptr;
    }
    return copy;
}

item_data_object::item_data_object(IDataObject* inner, bool items_on_disk)
    : inner_(tools::interface_holder<IDataObject>::add_ref(inner)), items_on_disk_(items_on_disk) {}

bool item_data_object::hidden(const FORMATETC* format) const {
    if (items_on_disk_ || !format) return false;
    static const CLIPFORMAT file_name = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILENAMEA));
    static const CLIPFORMAT file_name_wide = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILENAMEW));
    return format->cfFormat == CF_HDROP || format->cfFormat == file_name || format->cfFormat == file_name_wide;
}

item_data_object::~item_data_object() {
    for (auto& [format, memory] : kept_) GlobalFree(memory);
}

HGLOBAL item_data_object::kept(const FORMATETC* format) const {
    if (!wants_global(format)) return nullptr;
    auto found = kept_.find(format->cfFormat);
    return found == kept_.end() ? nullptr : found->second;
}

STDMETHODIMP item_data_object::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!format || !medium) return E_INVALIDARG;
    if (HGLOBAL memory = kept(format)) {
        HGLOBAL copy = copy_global(memory);
        if (!copy) return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    if (hidden(format)) return DV_E_FORMATETC;
    return inner_->GetData(format, medium);
}

STDMETHODIMP item_data_object::GetDataHere(FORMATETC* format, STGMEDIUM* medium) {
    return inner_->GetDataHere(format, medium);
}

STDMETHODIMP item_data_object::QueryGetData(FORMATETC* format) {
    if (kept(format)) return S_OK;
    if (hidden(format)) return DV_E_FORMATETC;
    return inner_->QueryGetData(format);
}

STDMETHODIMP item_data_object::GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* out) {
    return inner_->GetCanonicalFormatEtc(format, out);
}

STDMETHODIMP item_data_object::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
    if (!format || !medium) return E_INVALIDARG;
    HRESULT hr = inner_->SetData(format, medium, release);
    if (SUCCEEDED(hr)) {
        // The inner object answers from now on; an older value of ours would hide its new one.
        auto found = kept_.find(format->cfFormat);
        if (found != kept_.end()) {
            GlobalFree(found->second);
            kept_.erase(found);
        }
        return hr;
    }
    if (!refused_format(hr) || format->dwAspect != DVASPECT_CONTENT || medium->tymed != TYMED_HGLOBAL ||
        !medium->hGlobal || !GlobalSize(medium->hGlobal))
        return hr;
    // A block we may free ourselves is taken over; one that another object releases, or that stays the caller's,
    // is copied.
    const bool take_over = release && !medium->pUnkForRelease;
    HGLOBAL memory = take_over ? medium->hGlobal : copy_global(medium->hGlobal);
    if (!memory) return E_OUTOFMEMORY;
    try {
        HGLOBAL& slot = kept_[format->cfFormat];
        if (slot) GlobalFree(slot);
        slot = memory;
    } catch (...) {
        if (!take_over) GlobalFree(memory);
        return E_OUTOFMEMORY;
    }
    // A succeeding SetData with release owns the medium: what was not taken over is released now.
    if (release && !take_over) ReleaseStgMedium(medium);
    return S_OK;
}

STDMETHODIMP item_data_object::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    try {
        return enum_formats(direction, out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT item_data_object::enum_formats(DWORD direction, IEnumFORMATETC** out) {
    std::vector<FORMATETC> formats = listed_formats(inner_.get(), direction);
    formats.erase(std::remove_if(formats.begin(), formats.end(), [this](const FORMATETC& f) { return hidden(&f); }),
                  formats.end());
    if (direction == DATADIR_GET)
        for (const auto& [id, memory] : kept_) {
            bool listed = false;
            for (const FORMATETC& format : formats) listed = listed || format.cfFormat == id;
            if (!listed) formats.push_back({id, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
        }
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
}

STDMETHODIMP item_data_object::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) {
    return inner_->DAdvise(format, flags, sink, connection);
}

STDMETHODIMP item_data_object::DUnadvise(DWORD connection) { return inner_->DUnadvise(connection); }

STDMETHODIMP item_data_object::EnumDAdvise(IEnumSTATDATA** out) { return inner_->EnumDAdvise(out); }

}  // namespace platform
