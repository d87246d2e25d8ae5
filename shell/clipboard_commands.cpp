#include "clipboard_commands.h"

#include <shlobj.h>

#include "dword_formats.h"
#include "message_boxes.h"

namespace {

bool put_on_clipboard(HWND owner, IDataObject* data, const wchar_t* failure) {
    HRESULT hr = OleSetClipboard(data);
    if (FAILED(hr)) {
        shell::ShowErrorBox(owner, static_cast<DWORD>(hr), failure);
        return false;
    }
    return true;
}

}  // namespace

bool CopyToClipboard(HWND owner, IDataObject* data) {
    if (!put_on_clipboard(owner, data, L"Unable to copy selected items to clipboard")) return false;
    SetDwordFormat(data, DwordFormat::preferred_drop_effect, DROPEFFECT_COPY);
    return true;
}

bool CutToClipboard(HWND owner, IDataObject* data) {
    if (!put_on_clipboard(owner, data, L"Unable to cut selected items to clipboard")) return false;
    SHShellFolderView_Message(owner, SFVM_SETCLIPBOARD, static_cast<LPARAM>(static_cast<INT>(DFM_CMD_MOVE)));
    SetDwordFormat(data, DwordFormat::preferred_drop_effect, DROPEFFECT_MOVE);
    return true;
}
