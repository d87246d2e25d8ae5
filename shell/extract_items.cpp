#include "extract_items.h"

#include <atomic>

#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/interface_holder.h>
#include "id_list.h"
#include "storage_shell_folder.h"

namespace {

std::atomic<folder_chooser> current_chooser{nullptr};

void check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

folder_chooser SetFolderChooser(folder_chooser chooser) noexcept { return current_chooser.exchange(chooser); }

HRESULT ExtractItems(CStorageShellFolder& folder, HWND window, IDataObject* data) {
    try {
        const HWND owner = folder.GetFolderOwnerWindow(window);
        BROWSEINFOW info{};
        info.hwndOwner = owner;
        info.lpszTitle = L"Select folder where you want to export selected selected object(s).";
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        folder_chooser choose = current_chooser.load();
        CIdList chosen(choose ? choose(&info) : SHBrowseForFolderW(&info));
        if (!chosen) return S_OK;

        tools::interface_holder<IShellFolder> desktop;
        check(SHGetDesktopFolder(desktop.put()));
        ITEMIDLIST* desktop_list = nullptr;
        check(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop_list));
        CIdList desktop_held(desktop_list);
        tools::interface_holder<IShellFolder> target;
        if (ILIsEqual(chosen.get(), desktop_held.get()))
            target = desktop;
        else
            check(desktop->BindToObject(chosen.get(), nullptr, IID_IShellFolder2, target.put_void()));

        tools::interface_holder<IDropTarget> drop;
        check(target->CreateViewObject(owner, IID_IDropTarget, drop.put_void()));
        constexpr DWORD keys = MK_LBUTTON | MK_CONTROL;
        const POINTL point{0, 0};
        DWORD effect = DROPEFFECT_COPY;
        check(drop->DragEnter(data, keys, point, &effect));
        effect = DROPEFFECT_COPY;
        check(drop->Drop(data, keys, point, &effect));
        check(drop->DragLeave());
        return S_OK;
    } catch (...) {
        return tools::current_exception_hresult();
    }
}
