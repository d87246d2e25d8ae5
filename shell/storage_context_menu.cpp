#include "storage_context_menu.h"

#include <cstring>
#include <strsafe.h>

#include <server/idl/storage_identities.h>
#include <tools/hresult.h>
#include <tools/win_except.h>

#include "defragment_command.h"
#include "key_commands.h"
#include "message_boxes.h"
#include "storage_freeze.h"
#include "storage_selection.h"

namespace {

// Command offsets from the first identifier the shell gives.
enum : UINT {
    top_separator = 0,
    unfreeze = 1,
    freeze = 2,
    defragment = 3,
    manage_key = 4,
    view_key = 5,
    delete_key = 6,
    submenu_separator = 7,
    attach_key = 8,
    detach_key = 9,
    install_key = 10,
    export_key = 11,
    bottom_separator = 12,
};

// What QueryContextMenu answers: more than the offsets it uses.
constexpr HRESULT claimed_ids = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 18);

struct Verb {
    UINT command;
    const char* verb;
    const wchar_t* wide_verb;
    const char* help;
    const wchar_t* wide_help;
};

#define ORRI_VERB(command, verb, help) {command, verb, L"" verb, help, L"" help}
const Verb verbs[] = {
    ORRI_VERB(unfreeze, "ors:unfreeze", "Unfreeze the storage"),
    ORRI_VERB(freeze, "ors:freeze", "Freeze the storage"),
    ORRI_VERB(defragment, "ors:analyse", "Analyse the storage..."),
    ORRI_VERB(view_key, "ors:viewkey", "View installed storage key..."),
    ORRI_VERB(delete_key, "ors:deletekey", "Delete installed storage key..."),
    ORRI_VERB(attach_key, "ors:attachkey", "Attach key to the storage..."),
    ORRI_VERB(detach_key, "ors:detachkey", "Remove attached storage key..."),
    ORRI_VERB(install_key, "ors:installkey", "Install attached storage key..."),
    ORRI_VERB(export_key, "ors:exportkey", "Export attached storage key to file..."),
};
#undef ORRI_VERB

const Verb* FindVerb(UINT command) {
    for (const Verb& verb : verbs)
        if (verb.command == command) return &verb;
    return nullptr;
}

UINT CommandOfVerb(const char* text) {
    for (const Verb& verb : verbs)
        if (std::strcmp(verb.verb, text) == 0) return verb.command;
    return 0;
}

UINT Enabled(bool enabled) { return enabled ? MF_ENABLED : MF_GRAYED | MF_DISABLED; }

void Insert(HMENU menu, UINT index, UINT flags, UINT_PTR id, const wchar_t* text) {
    tools::check_win(InsertMenuW(menu, index, MF_BYPOSITION | flags, id, text));
}

HMENU KeySubmenu(UINT first, bool installed, bool attached) {
    HMENU submenu = CreatePopupMenu();
    if (!submenu) tools::throw_last_error();
    struct item {
        UINT flags;
        UINT offset;
        const wchar_t* text;
    };
    const item items[] = {
        {MF_STRING | Enabled(installed), view_key, L"View installed key..."},
        {MF_STRING | Enabled(installed), delete_key, L"Delete installed key..."},
        {MF_SEPARATOR, submenu_separator, nullptr},
        {MF_STRING | Enabled(!attached), attach_key, L"Attach a key..."},
        {MF_STRING | Enabled(attached), detach_key, L"Detach key..."},
        {MF_STRING | Enabled(attached && !installed), install_key, L"Install key..."},
        {MF_STRING | Enabled(attached), export_key, L"Export key..."},
    };
    for (const item& entry : items) {
        if (!AppendMenuW(submenu, entry.flags, first + entry.offset, entry.text)) {
            DWORD error = GetLastError();
            DestroyMenu(submenu);
            throw tools::win_except(error);
        }
    }
    return submenu;
}

template <class Char>
HRESULT CopyText(const Char* text, LPSTR buffer, UINT size) {
    HRESULT hr;
    if constexpr (sizeof(Char) == 1)
        hr = StringCchCopyA(buffer, size, text);
    else
        hr = StringCchCopyW(reinterpret_cast<wchar_t*>(buffer), size, text);
    return FAILED(hr) ? E_OUTOFMEMORY : S_OK;
}

}  // namespace

IUnknown* CStorageContextMenu::Create(std::vector<IID>* interfaces) {
    if (interfaces) *interfaces = {IID_IShellExtInit, IID_IContextMenu, IID_IUnknown};
    return static_cast<IShellExtInit*>(new CStorageContextMenu);
}

void* CStorageContextMenu::query_own_interface(REFIID iid) {
    if (IsEqualIID(iid, IID_IShellExtInit)) return static_cast<IShellExtInit*>(this);
    if (IsEqualIID(iid, IID_IContextMenu)) return static_cast<IContextMenu*>(this);
    return nullptr;
}

STDMETHODIMP CStorageContextMenu::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY) {
    return tools::com_boundary([&] {
        if (folder) folder_ = CIdList::Clone(folder);
        path_ = shell::SelectedStoragePath(folder, data);
        shell::StorageCommandState state = shell::ReadStorageCommandState(path_);
        frozen_ = state.frozen;
        installed_key_ = std::move(state.installed_key);
        flags_ = state.flags;
    });
}

STDMETHODIMP CStorageContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) {
    if (flags & CMF_DEFAULTONLY) return S_OK;
    // Our identifiers must lie within what the shell gives, or they would collide with others' commands.
    if (last < first || last - first < bottom_separator) return S_OK;
    return tools::com_boundary([&] {
        const bool installed = static_cast<bool>(installed_key_);
        const bool attached = (flags_ & StorageFlagKeyAttached) != 0;
        // Each item goes in at the same position, above the ones before it.
        Insert(menu, index, MF_SEPARATOR, first + top_separator, nullptr);
        MENUITEMINFOW submenu{};
        submenu.cbSize = sizeof(submenu);
        submenu.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        submenu.wID = first + manage_key;
        submenu.hSubMenu = KeySubmenu(first, installed, attached);
        submenu.dwTypeData = const_cast<wchar_t*>(L"Manage key");
        if (!InsertMenuItemW(menu, index, TRUE, &submenu)) {
            DWORD error = GetLastError();
            DestroyMenu(submenu.hSubMenu);
            throw tools::win_except(error);
        }
        Insert(menu, index, MF_STRING, first + defragment, L"Defragmentation...");
        Insert(menu, index, MF_STRING | Enabled(!frozen_), first + freeze, L"Freeze");
        Insert(menu, index, MF_STRING | Enabled(frozen_), first + unfreeze, L"Unfreeze");
        Insert(menu, index, MF_SEPARATOR, first + bottom_separator, nullptr);
        return claimed_ids;
    });
}

STDMETHODIMP CStorageContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    // A verb that is no pointer is a command number.
    const UINT command = IS_INTRESOURCE(info->lpVerb) ? LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb))
                                                      : CommandOfVerb(info->lpVerb);
    if (!FindVerb(command)) return E_NOTIMPL;
    HRESULT hr = tools::com_boundary([&] { Run(command, info->hwnd); });
    if (FAILED(hr))
        shell::ShowErrorBox(nullptr, static_cast<DWORD>(hr), L"Unable to complete operation due to internal error.");
    return S_OK;
}

void CStorageContextMenu::Run(UINT command, HWND owner) {
    const bool installed = static_cast<bool>(installed_key_);
    const bool attached = (flags_ & StorageFlagKeyAttached) != 0;
    switch (command) {
    case unfreeze:
        if (frozen_) shell::SetStorageFreeze(path_, false);
        break;
    case freeze:
        if (!frozen_) shell::SetStorageFreeze(path_, true);
        break;
    case defragment:
        shell::DefragmentStorage(owner, path_);
        break;
    case view_key:
        if (installed) shell::ViewKey(owner, path_);
        break;
    case delete_key:
        if (installed) shell::DeleteInstalledKey(owner, path_);
        break;
    case attach_key:
        if (!attached) shell::AttachKey(owner, path_);
        break;
    case detach_key:
        if (attached) shell::DetachKey(owner, path_);
        break;
    case install_key:
        if (attached) shell::InstallAttachedKey(owner, path_);
        break;
    case export_key:
        if (attached) shell::ExportKey(owner, path_);
        break;
    }
}

STDMETHODIMP CStorageContextMenu::GetCommandString(UINT_PTR command, UINT type, UINT*, LPSTR buffer, UINT size) {
    const Verb* verb = command <= UINT_MAX ? FindVerb(static_cast<UINT>(command)) : nullptr;
    if (!verb) return E_INVALIDARG;
    if (!buffer && (type == GCS_VERBA || type == GCS_HELPTEXTA || type == GCS_VERBW || type == GCS_HELPTEXTW))
        return E_POINTER;
    switch (type) {
    case GCS_VERBA:
        return CopyText(verb->verb, buffer, size);
    case GCS_HELPTEXTA:
        return CopyText(verb->help, buffer, size);
    case GCS_VERBW:
        return CopyText(verb->wide_verb, buffer, size);
    case GCS_HELPTEXTW:
        return CopyText(verb->wide_help, buffer, size);
    default:
        return S_OK;
    }
}
