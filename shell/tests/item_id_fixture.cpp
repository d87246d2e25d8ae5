#include "item_id_fixture.h"

#include <oleauto.h>
#include <cstring>
#include <shell/storage_change_notify.h>
#include <shell/storage_item_id.h>

namespace shell_testing {

STDMETHODIMP info_stand_in::QueryInterface(REFIID, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP info_stand_in::GetType(long* type) {
    *type = type_;
    return type_result_;
}

STDMETHODIMP info_stand_in::GetName(BSTR* name) {
    *name = name_.empty() ? nullptr : SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
    return S_OK;
}

STDMETHODIMP info_stand_in::GetSize(UINT64* size) {
    *size = size_;
    return S_OK;
}

CIdList ItemIdOf(const std::wstring& name, long type, UINT64 size) {
    info_stand_in info(name, type, size);
    return BuildStorageItemId(&info);
}

std::vector<notification_recorder::event> notification_recorder::events;

namespace {
change_notify_sink replaced_sink = nullptr;
void WINAPI record_event(LONG id, UINT, LPCVOID first, LPCVOID second) {
    notification_recorder::events.push_back({id, CIdList::Clone(static_cast<const ITEMIDLIST*>(first)),
                                             CIdList::Clone(static_cast<const ITEMIDLIST*>(second))});
}
}  // namespace

notification_recorder::notification_recorder() {
    events.clear();
    replaced_sink = SetChangeNotifySink(&record_event);
}

notification_recorder::~notification_recorder() { SetChangeNotifySink(replaced_sink); }

STDMETHODIMP id_array_data::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (format->cfFormat != RegisterClipboardFormatW(L"Shell IDList Array")) return DV_E_FORMATETC;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
    if (!memory) return E_OUTOFMEMORY;
    std::memcpy(GlobalLock(memory), bytes_.data(), bytes_.size());
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

std::vector<BYTE> id_array(const std::vector<const ITEMIDLIST*>& lists) {
    std::vector<BYTE> block((lists.size() + 1) * sizeof(UINT));
    UINT count = static_cast<UINT>(lists.size() - 1);
    std::memcpy(block.data(), &count, sizeof(UINT));
    for (size_t i = 0; i < lists.size(); ++i) {
        UINT offset = static_cast<UINT>(block.size());
        std::memcpy(block.data() + (i + 1) * sizeof(UINT), &offset, sizeof(UINT));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(lists[i]);
        block.insert(block.end(), bytes, bytes + ILGetSize(lists[i]));
    }
    return block;
}

tools::interface_holder<IDataObject> SelectionOf(const ITEMIDLIST* parent, const std::vector<CIdList>& children) {
    std::vector<const ITEMIDLIST*> lists{parent};
    for (const CIdList& child : children) lists.push_back(child.get());
    return tools::interface_holder<IDataObject>(new id_array_data(id_array(lists)));
}

}  // namespace shell_testing
