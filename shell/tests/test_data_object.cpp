#include "test_data_object.h"

#include <shlobj.h>
#include <cstring>

#include <shell/id_list.h>
#include "item_id_fixture.h"

namespace shell_testing {

CLIPFORMAT format_id(const wchar_t* name) { return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name)); }

tools::interface_holder<test_data_object> test_data_object::of_paths(const std::vector<std::wstring>& paths) {
    std::vector<CIdList> full;
    for (const std::wstring& path : paths) full.emplace_back(ILCreateFromPathW(path.c_str()));
    CIdList parent(ILClone(full.front().get()));
    ILRemoveLastID(parent.get());
    std::vector<const ITEMIDLIST*> lists{parent.get()};
    for (const CIdList& list : full) lists.push_back(ILFindLastID(list.get()));
    tools::interface_holder<test_data_object> data(new test_data_object);
    data->put(CFSTR_SHELLIDLIST, id_array(lists));
    return data;
}

void test_data_object::put(const wchar_t* format, std::vector<BYTE> bytes) { put(format_id(format), std::move(bytes)); }

bool test_data_object::has(const wchar_t* format) const { return blocks_.count(format_id(format)) != 0; }

long test_data_object::dword(const wchar_t* format) const {
    auto found = blocks_.find(format_id(format));
    if (found == blocks_.end() || found->second.size() < sizeof(DWORD)) return -1;
    return static_cast<long>(*reinterpret_cast<const DWORD*>(found->second.data()));
}

STDMETHODIMP test_data_object::GetData(FORMATETC* format, STGMEDIUM* medium) {
    HRESULT hr = QueryGetData(format);
    if (FAILED(hr)) return hr;
    const std::vector<BYTE>& bytes = blocks_[format->cfFormat];
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!memory) return E_OUTOFMEMORY;
    if (!bytes.empty()) std::memcpy(GlobalLock(memory), bytes.data(), bytes.size());
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

STDMETHODIMP test_data_object::QueryGetData(FORMATETC* format) {
    if (!format) return E_INVALIDARG;
    if (!blocks_.count(format->cfFormat)) return DV_E_FORMATETC;
    return (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_TYMED;
}

STDMETHODIMP test_data_object::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> formats;
    for (const auto& [format, bytes] : blocks_) formats.push_back({format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
}

STDMETHODIMP test_data_object::SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) {
    if (!format || !medium || medium->tymed != TYMED_HGLOBAL) return DV_E_TYMED;
    const SIZE_T size = GlobalSize(medium->hGlobal);
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
    blocks_[format->cfFormat].assign(bytes, bytes + size);
    GlobalUnlock(medium->hGlobal);
    if (release) ReleaseStgMedium(medium);
    return S_OK;
}

}  // namespace shell_testing
