// The folder's drop target: shell items dragged from outside any storage are transferred into the folder.
#include "folder_drop_target.h"

#include "dword_formats.h"
#include "id_list_set.h"
#include "storage_shell_folder.h"
#include "transfer_items.h"

namespace {

constexpr DWORD left_button = 0x1, right_button = 0x2, shift_key = 0x4, control_key = 0x8, alt_key = 0x20;

// Whether the data may be dropped here: items of the file system, not of a storage.
bool acceptable(IDataObject* data) {
    if (!data || IsStorageSource(data)) return false;
    IdListSet items;
    return GetShellIdList(items, data) > 0;
}

// One effect out of those proposed and allowed: a move when it may move, else a copy, else none.
DWORD single_effect(DWORD effects) {
    if (effects & DROPEFFECT_MOVE) return DROPEFFECT_MOVE;
    if (effects & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    return DROPEFFECT_NONE;
}

}  // namespace

DWORD ChooseDropEffect(DWORD keys) noexcept {
    const DWORD low = keys & 0xFF;
    if (keys == 0) return DROPEFFECT_COPY;
    if ((low & (left_button | control_key)) && !(low & (shift_key | alt_key))) return DROPEFFECT_COPY;
    if ((low & (left_button | shift_key)) && !(low & control_key)) return DROPEFFECT_MOVE;
    if (keys == right_button) return DROPEFFECT_MOVE;
    return DROPEFFECT_NONE;
}

// The effect proposed while dragging is limited to what the source allows, so the cursor shows what a drop would do;
// the last one proposed is what the drop does (at Drop the buttons are already up, and the keys say nothing more).

STDMETHODIMP CStorageShellFolder::DragEnter(IDataObject* data, DWORD keys, POINTL, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    const DWORD allowed = *effect;
    *effect = DROPEFFECT_NONE;
    drop_data_ = tools::interface_holder<IDataObject>::add_ref(data);
    drop_entered_ = true;
    drop_accepted_ = false;
    try {
        drop_accepted_ = acceptable(data);
    } catch (...) {
        // Unreadable data is refused.
    }
    drop_effect_ = drop_accepted_ ? ChooseDropEffect(keys) : DROPEFFECT_NONE;
    *effect = drop_effect_ & allowed;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::DragOver(DWORD keys, POINTL, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    const DWORD allowed = *effect;
    // Data that was refused on entering stays refused; the list is not read again.
    drop_effect_ = drop_accepted_ ? ChooseDropEffect(keys) : DROPEFFECT_NONE;
    *effect = drop_effect_ & allowed;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::DragLeave() {
    drop_data_.reset();
    drop_entered_ = drop_accepted_ = false;
    drop_effect_ = DROPEFFECT_NONE;
    return S_OK;
}

STDMETHODIMP CStorageShellFolder::Drop(IDataObject* data, DWORD keys, POINTL, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    const DWORD allowed = *effect;
    *effect = DROPEFFECT_NONE;
    try {
        // Without a drag before it (a caller that only drops), the keys given now decide.
        DWORD proposed = drop_entered_ ? drop_effect_ : ChooseDropEffect(keys);
        DragLeave();
        DWORD mode = single_effect(proposed & allowed);
        if (mode == DROPEFFECT_NONE || !data || IsStorageSource(data)) return S_OK;
        SetDwordFormat(data, DwordFormat::preferred_drop_effect, mode);
        // The source learns of a move only when every item arrived whole.
        TransferItems(*this, data, GetFolderOwnerWindow(nullptr), &mode);
        *effect = mode;
    } catch (...) {
        *effect = DROPEFFECT_NONE;
    }
    return S_OK;
}
