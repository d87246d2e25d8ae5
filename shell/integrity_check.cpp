// The integrity check: every stored file's recorded digest against the digest the server computes now, and the
// "List of corrupted files" from which the files that differ can be deleted.
#include "item_commands.h"

#include <commctrl.h>
#include <cstring>
#include <memory>

#include <platform/dialog_framework.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/win_except.h>
#include "id_list_set.h"
#include "item_command_resources.h"
#include "message_boxes.h"
#include "progress_window.h"
#include "storage_item_id.h"
#include "storage_shell_folder.h"

namespace shell {

namespace {

const wchar_t dialog_data_property[] = L"DIALOG_DATA_PROP";
constexpr UINT checked_state = 2;  // the check-box images: 1 unchecked, 2 checked

template <class Interface>
tools::interface_holder<Interface> query(IUnknown* object, REFIID iid) {
    tools::interface_holder<Interface> found;
    HRESULT hr = object->QueryInterface(iid, found.put_void());
    if (FAILED(hr)) _com_issue_error(hr);
    return found;
}

void check_child(IStorageFolder* parent, const std::wstring& name, std::vector<CorruptedFile>& corrupted,
                 IProgressWindow& progress) {
    auto element = FindElementOrThrow(parent, name);
    if (!element) _com_issue_error(E_POINTER);
    switch (GetTypeOrThrow(element.get())) {
    case FileElementType: CheckItemDigest(parent, element.get(), name, corrupted, progress); break;
    case FolderElementType: {
        element.reset();
        CheckFolderItems(OpenFolderOrThrow(parent, name, VARIANT_FALSE).get(), corrupted, progress);
        break;
    }
    default: _com_issue_error(E_UNEXPECTED);
    }
}

// Whether the file's data differs from its recorded digest now; an empty file is not tested.
bool DigestDiffers(IStorageElement* file) {
    if (GetSizeOrThrow(file) == 0) return false;
    const StreamDigest now = GetDigestOrThrow(query<IStorageFile>(file, IID_IStorageFile).get());
    // A file with no recorded digest cannot be vouched for: it is listed with the files that differ.
    try {
        const StreamDigest recorded = GetContentDigest(file);
        return std::memcmp(&recorded, &now, sizeof(now)) != 0;
    } catch (const _com_error& e) {
        if (e.Error() != E_UNEXPECTED) throw;
        return true;
    }
}

struct corrupted_dialog_data {
    HINSTANCE module;
    std::vector<CorruptedFile>* files;
    bool deleted = false;
};

bool checked(HWND tree, HTREEITEM item) {
    const UINT state = static_cast<UINT>(SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                                                      TVIS_STATEIMAGEMASK));
    return (state >> 12) == checked_state;
}

void fill_tree(HWND tree, const std::vector<CorruptedFile>& files) {
    for (size_t i = 0; i < files.size(); ++i) {
        TVINSERTSTRUCTW insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
        insert.item.pszText = const_cast<wchar_t*>(files[i].name.c_str());
        insert.item.lParam = static_cast<LPARAM>(i);
        insert.item.stateMask = TVIS_STATEIMAGEMASK;
        insert.item.state = INDEXTOSTATEIMAGEMASK(checked_state);
        auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        // Each entry starts checked (a tree may reset the state image as it inserts).
        TVITEMW state{};
        state.mask = TVIF_STATE;
        state.hItem = item;
        state.stateMask = TVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(checked_state);
        SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&state));
    }
}

// "Delete selected": the checked entries, asked for, deleted each through its own folder; a failure stops the run.
// Each is tested again first: the list is as old as the check, and a good copy restored under the name since (from
// another window) is not deleted; its entry stays, unchecked.
void delete_checked(HWND dialog, corrupted_dialog_data& data) {
    HWND tree = GetDlgItem(dialog, IDC_CORRUPTED_TREE);
    std::vector<HTREEITEM> chosen;
    for (auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;
         item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item))))
        if (checked(tree, item)) chosen.push_back(item);
    if (chosen.empty()) return;
    auto entry_of = [&](HTREEITEM item) -> CorruptedFile& {
        TVITEMW read{};
        read.mask = TVIF_PARAM;
        read.hItem = item;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read));
        return (*data.files)[static_cast<size_t>(read.lParam)];
    };
    if (MessageBoxW(dialog, DeleteQuestion(chosen.size(), entry_of(chosen[0]).name).c_str(), box_caption,
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    std::unique_ptr<CProgressController> progress;
    try {
        progress = RunProgressWindow(
            ShellProgress(chosen.size() == 1 ? 4 : 5, dialog, L"Deleting", L"Deleting " + ItemCount(chosen.size())));
    } catch (...) {
        MessageBoxW(dialog, L"Some error has occured", nullptr, MB_ICONERROR);
        return;
    }
    IProgressWindow& window = progress->Window();
    window.SetRange(0, chosen.size());
    for (size_t i = 0; i < chosen.size() && !window.IsCancelled(); ++i) {
        CorruptedFile& file = entry_of(chosen[i]);
        window.SetText2(L"Deleting '" + file.name + L"'");
        window.SetText3(ItemCount(chosen.size() - i) + L" remaining");
        AdvanceProgress(window, 1);
        bool differs = false;
        const HRESULT hr = tools::com_boundary(
            [&] { differs = DigestDiffers(FindElementOrThrow(file.parent.get(), file.name).get()); });
        if (FAILED(hr)) {
            ShowErrorBox(dialog, static_cast<DWORD>(hr), (L"Unable to delete '" + file.name + L"'").c_str());
            break;
        }
        if (!differs) {
            TreeView_SetCheckState(tree, chosen[i], FALSE);
            continue;
        }
        if (!DeleteNamedElement(dialog, file.parent.get(), file.name)) break;
        SendMessageW(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(chosen[i]));
        data.deleted = true;
    }
}

// The area above the line is framed, as the product's other dialogs have it.
void paint_frame(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    RECT area, line;
    GetClientRect(dialog, &area);
    GetWindowRect(GetDlgItem(dialog, IDC_CORRUPTED_LINE), &line);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&line), 2);
    area.bottom = line.top;
    InflateRect(&area, -4, -4);
    DrawEdge(dc, &area, EDGE_ETCHED, BF_RECT);
    EndPaint(dialog, &paint);
}

INT_PTR corrupted_message(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* data = static_cast<corrupted_dialog_data*>(GetPropW(dialog, dialog_data_property));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<corrupted_dialog_data*>(lparam);
        SetPropW(dialog, dialog_data_property, data);
        tools::auto_icon icon = ProductIcon(data->module);
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.get()));
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon.get()));
        icon.detach();  // the window's now
        // Check boxes are given after the tree is made: given in the template, they may come up unchecked.
        HWND tree = GetDlgItem(dialog, IDC_CORRUPTED_TREE);
        SetWindowLongPtrW(tree, GWL_STYLE, GetWindowLongPtrW(tree, GWL_STYLE) | TVS_CHECKBOXES);
        fill_tree(tree, *data->files);
        return TRUE;
    }
    case WM_COMMAND:
        if (!data) return FALSE;
        if (LOWORD(wparam) == IDC_CORRUPTED_CLOSE || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, data->deleted ? 1 : 0);
            return TRUE;
        }
        if (LOWORD(wparam) == IDC_CORRUPTED_DELETE && HIWORD(wparam) == BN_CLICKED) {
            delete_checked(dialog, *data);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT: paint_frame(dialog); return TRUE;
    case WM_NCDESTROY: RemovePropW(dialog, dialog_data_property); return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK corrupted_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        return corrupted_message(dialog, message, wparam, lparam);
    } catch (...) {
        ShowErrorBox(dialog, static_cast<DWORD>(tools::current_exception_hresult()));
        return FALSE;
    }
}

}  // namespace

void CheckItemDigest(IStorageFolder* parent, IStorageElement* file, const std::wstring& name,
                     std::vector<CorruptedFile>& corrupted, IProgressWindow& progress) {
    if (DigestDiffers(file)) corrupted.push_back({tools::interface_holder<IStorageFolder>::add_ref(parent), name});
    progress.SetText2(L"Checking '" + name + L"'");
    AdvanceProgress(progress, 1);
}

void CheckFolderItems(IStorageFolder* folder, std::vector<CorruptedFile>& corrupted, IProgressWindow& progress) {
    std::vector<std::wstring> names;
    auto children = EnumElementsOrThrow(folder);
    while (auto info = NextOrThrow(children.get())) names.push_back(GetNameOrThrow(info.get()).text());
    children.reset();
    for (const std::wstring& name : names) check_child(folder, name, corrupted, progress);
}

void CheckItems(CStorageShellFolder& folder, HWND owner, IDataObject* selection) {
    IdListSet set;
    const size_t count = GetShellIdList(set, selection);
    auto server = folder.GetServer();
    std::vector<CorruptedFile> corrupted;
    {
        auto progress = RunProgressWindow(ShellProgress(count == 1 ? 6 : 7, owner, L"Integrity checkig...",
                                                        L"Checking " + ItemCount(count)));
        for (const CIdList& item : set.children)
            check_child(server.get(), GetStorageItem(item.get())->name, corrupted, progress->Window());
    }
    if (corrupted.empty()) {
        MessageBoxW(BoxOwner(owner), L"Test completed.\nThere data is OK. Any corruption was detected.", box_caption,
                    MB_ICONINFORMATION);
        return;
    }
    if (ShowCorruptedFiles(platform::this_module(), owner, corrupted)) folder.RefreshView(owner);
}

bool ShowCorruptedFiles(HINSTANCE module, HWND owner, std::vector<CorruptedFile>& files) {
    corrupted_dialog_data data{module, &files};
    SetLastError(ERROR_SUCCESS);
    INT_PTR result = DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_CORRUPTED_FILES), BoxOwner(owner),
                                     &corrupted_dialog_proc, reinterpret_cast<LPARAM>(&data));
    if (result == -1) tools::throw_last_error();
    return data.deleted;
}

}  // namespace shell
