#include "shell_objects.h"

#include <tools/interface_holder.h>

namespace shell_testing {

HRESULT FilesObject(const std::wstring& folder, const std::vector<std::wstring>& names, REFIID iid, void** out) {
    tools::interface_holder<IShellFolder> desktop, parent;
    PIDLIST_RELATIVE folder_list = nullptr;
    HRESULT hr = SHGetDesktopFolder(desktop.put());
    if (SUCCEEDED(hr))
        hr = desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(folder.c_str()), nullptr, &folder_list,
                                       nullptr);
    if (SUCCEEDED(hr)) hr = desktop->BindToObject(folder_list, nullptr, IID_IShellFolder, parent.put_void());
    ILFree(folder_list);
    std::vector<PCUITEMID_CHILD> items;
    for (const std::wstring& name : names) {
        PIDLIST_RELATIVE item = nullptr;
        if (SUCCEEDED(hr))
            hr = parent->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), nullptr, &item, nullptr);
        if (item) items.push_back(item);
    }
    if (SUCCEEDED(hr)) hr = parent->GetUIObjectOf(nullptr, static_cast<UINT>(items.size()), items.data(), iid, nullptr, out);
    for (PCUITEMID_CHILD item : items) ILFree(const_cast<PUITEMID_CHILD>(item));
    return hr;
}

}  // namespace shell_testing
