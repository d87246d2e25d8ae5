// The storage file's context menu and icon overlays as Explorer meets them: orrishell.dll loaded by path, its objects
// made by its class objects and called through their interfaces (Wine loads neither kind of handler itself), against
// the installed service.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <shell/storage_at_path.h>
#include <tools/interface_holder.h>
#include <tools/paths.h>
#include <tools/tests/test_support.h>
#include <tools/text.h>
#include <tools/win_except.h>

#include "loaded_shell_module.h"
#include "shell_objects.h"
#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

template <>
struct doctest::StringMaker<std::wstring> {
    static String convert(const std::wstring& text) { return tools::to_narrow(text).c_str(); }
};
template <>
struct doctest::StringMaker<std::vector<std::wstring>> {
    static String convert(const std::vector<std::wstring>& lines) {
        std::string text;
        for (const std::wstring& line : lines) text += "\n  [" + tools::to_narrow(line) + "]";
        return text.c_str();
    }
};

namespace {

// A menu's items from the top: "id text", "(grey)" when disabled, ">" with a submenu, "id -" for a separator.
std::vector<std::wstring> Items(HMENU menu) {
    std::vector<std::wstring> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = L"";
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 128;
        REQUIRE(GetMenuItemInfoW(menu, i, TRUE, &info));
        const bool separator = (info.fType & MFT_SEPARATOR) != 0;
        std::wstring item = std::to_wstring(info.wID) + L" " + (separator ? L"-" : text);
        if ((info.fState & MFS_GRAYED) && !separator) item += L" (grey)";  // Wine greys separators
        if (info.hSubMenu) item += L" >";
        items.push_back(item);
    }
    return items;
}

HMENU Submenu(HMENU menu, UINT id) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_SUBMENU;
    return GetMenuItemInfoW(menu, id, FALSE, &info) ? info.hSubMenu : nullptr;
}

// A context menu handler for the files, initialised as Explorer does; empty when Initialize fails (hr says why).
tools::interface_holder<IContextMenu> StorageMenu(const loaded_module& dll, const std::wstring& folder,
                                                  const std::vector<std::wstring>& names, HRESULT& hr) {
    auto init = dll.create<IShellExtInit>(CLSID_StorageContextMenu, IID_IShellExtInit);
    REQUIRE(init);
    tools::interface_holder<IDataObject> data;
    REQUIRE(FilesObject(folder, names, IID_IDataObject, data.put_void()) == S_OK);
    hr = init->Initialize(nullptr, data.get(), HKEY_CLASSES_ROOT);
    tools::interface_holder<IContextMenu> menu;
    if (SUCCEEDED(hr)) REQUIRE(init->QueryInterface(IID_IContextMenu, menu.put_void()) == S_OK);
    return menu;
}

tools::interface_holder<IContextMenu> StorageMenu(const loaded_module& dll, const std::wstring& path) {
    HRESULT hr = E_FAIL;
    auto menu = StorageMenu(dll, tools::path_directory(path), {tools::path_file_name(path)}, hr);
    REQUIRE(hr == S_OK);
    return menu;
}

HRESULT Invoke(IContextMenu* menu, const char* verb) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof(info);
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
}

HRESULT Invoke(IContextMenu* menu, UINT command) { return Invoke(menu, MAKEINTRESOURCEA(command)); }

std::vector<std::wstring> MenuOf(IContextMenu* menu) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 5, L"Open");
    CHECK(menu->QueryContextMenu(popup, 0, 100, 200, 0) == MAKE_HRESULT(SEVERITY_SUCCESS, 0, 18));
    std::vector<std::wstring> items = Items(popup);
    if (HMENU keys = Submenu(popup, 104)) {
        for (const std::wstring& item : Items(keys)) items.push_back(L"  " + item);
    }
    DestroyMenu(popup);
    return items;
}

long WatchState(const std::wstring& path) { return GetWatchStateOrThrow(ConnectServer().get(), tools::bstr(path)); }

tools::auto_variant Frozen(const std::wstring& path) {
    return GetStorageProperty(shell::OpenStorageAtPath(path).get(), FrozenProperty);
}

HRESULT Member(const loaded_module& dll, REFCLSID overlay, const std::wstring& path) {
    auto identifier = dll.create<IShellIconOverlayIdentifier>(overlay, IID_IShellIconOverlayIdentifier);
    REQUIRE(identifier);
    return identifier->IsMemberOf(path.c_str(), 0);
}

// The module's icon groups: each image an icon group names, by number, and the size the group gives it.
struct icon_image {
    WORD id;
    DWORD size;
};
BOOL CALLBACK CollectIconGroup(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR groups) {
    HRSRC found = FindResourceW(module, name, RT_GROUP_ICON);
    auto* header = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    std::vector<icon_image> images;
    // A group: 6 bytes of header with the count at 4, then 14 bytes per image, its size at 8 and its number at 12.
    for (WORD i = 0; header && i < *reinterpret_cast<const WORD*>(header + 4); ++i) {
        const BYTE* entry = header + 6 + 14 * i;
        images.push_back({*reinterpret_cast<const WORD*>(entry + 12), *reinterpret_cast<const DWORD*>(entry + 8)});
    }
    reinterpret_cast<std::vector<std::vector<icon_image>>*>(groups)->push_back(images);
    return TRUE;
}

// Shows the popup menu at the top left of a window of its own thread with its "Manage key" submenu open, for the
// picture; ends it when told.
void ShowMenuForPicture(HMENU popup, HANDLE shown, HANDLE done) {
    HWND owner = CreateWindowW(L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    std::thread keys([&] {
        Sleep(500);
        PostMessageW(owner, WM_KEYDOWN, VK_UP, 0);  // the last item: "Manage key"
        PostMessageW(owner, WM_KEYDOWN, VK_RIGHT, 0);
        Sleep(500);
        SetEvent(shown);
        WaitForSingleObject(done, 30000);
        PostMessageW(owner, WM_CANCELMODE, 0, 0);
    });
    SetForegroundWindow(owner);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN, 20, 20, 0, owner, nullptr);
    keys.join();
    DestroyWindow(owner);
}

}  // namespace

TEST_CASE_FIXTURE(storage_bench,
                  "the context menu offers the storage's commands as its state allows and runs them by verb") {
    loaded_module dll;
    const std::wstring path = MakeStorage(dir, L"menu", SeparateFileAndAttach, pfx);
    auto menu = StorageMenu(dll, path);

    // Open, a key attached and not installed.
    CHECK(MenuOf(menu.get()) == std::vector<std::wstring>{
                                    L"112 -", L"101 Unfreeze (grey)", L"102 Freeze", L"103 Defragmentation...",
                                    L"104 Manage key >", L"100 -", L"5 Open",
                                    L"  105 View installed key... (grey)", L"  106 Delete installed key... (grey)",
                                    L"  107 -", L"  108 Attach a key... (grey)", L"  109 Detach key...",
                                    L"  110 Install key...", L"  111 Export key..."});
    {
        HMENU popup = CreatePopupMenu();
        REQUIRE(SUCCEEDED(menu->QueryContextMenu(popup, 0, 100, 200, 0)));
        HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread picture([&] { ShowMenuForPicture(popup, shown, done); });
        CHECK(WaitForSingleObject(shown, 15000) == WAIT_OBJECT_0);
        CHECK(testing::screenshot(L"shell-shots", "context-menu"));
        SetEvent(done);
        picture.join();
        DestroyMenu(popup);
        CloseHandle(shown);
        CloseHandle(done);
    }

    // Nothing is added for the default command only, nor where the identifiers given are too few.
    for (auto [last, flags] : {std::pair<UINT, UINT>{200, CMF_DEFAULTONLY}, {111, 0}, {99, 0}}) {
        HMENU popup = CreatePopupMenu();
        CHECK(menu->QueryContextMenu(popup, 0, 100, last, flags) == S_OK);
        CHECK(GetMenuItemCount(popup) == 0);
        DestroyMenu(popup);
    }

    // Verbs and help texts in both character sets; too small a buffer, other numbers.
    char narrow[64];
    wchar_t wide[64];
    CHECK(menu->GetCommandString(2, GCS_VERBA, nullptr, narrow, 64) == S_OK);
    CHECK(std::string(narrow) == "ors:freeze");
    CHECK(menu->GetCommandString(11, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 64) == S_OK);
    CHECK(std::wstring(wide) == L"Export attached storage key to file...");
    CHECK(menu->GetCommandString(3, GCS_HELPTEXTA, nullptr, narrow, 64) == S_OK);
    CHECK(std::string(narrow) == "Analyse the storage...");
    CHECK(menu->GetCommandString(9, GCS_VERBW, nullptr, reinterpret_cast<char*>(wide), 64) == S_OK);
    CHECK(std::wstring(wide) == L"ors:detachkey");
    CHECK(menu->GetCommandString(6, GCS_VERBA, nullptr, narrow, 5) == E_OUTOFMEMORY);
    CHECK(menu->GetCommandString(1, GCS_VALIDATEA, nullptr, narrow, 64) == S_OK);
    for (UINT other : {0u, 4u, 7u, 12u}) CHECK(menu->GetCommandString(other, GCS_VERBA, nullptr, narrow, 64) == E_INVALIDARG);
    for (UINT other : {0u, 4u, 7u, 12u, 13u}) CHECK(Invoke(menu.get(), other) == E_NOTIMPL);
    CHECK(Invoke(menu.get(), "ors:Freeze") == E_NOTIMPL);
    CHECK(Invoke(menu.get(), "ors:freeze ") == E_NOTIMPL);

    // Freezing by verb: marked, watched, shown by the overlays.
    CHECK(Invoke(menu.get(), "ors:freeze") == S_OK);
    CHECK(Frozen(path).get().vt == VT_BOOL);
    CHECK(Frozen(path).get().boolVal == VARIANT_TRUE);
    CHECK(WatchState(path) == 0);
    CHECK(Member(dll, CLSID_FrozenOverlay, path) == S_OK);
    CHECK(Member(dll, CLSID_KeyOverlay, path) == S_OK);
    CHECK(WatchState(path) == 0);
    {
        // A frozen storage's menu: "Freeze" grey, "Unfreeze" offered; freezing again does nothing.
        auto frozen = StorageMenu(dll, path);
        std::vector<std::wstring> items = MenuOf(frozen.get());
        CHECK(items[1] == L"101 Unfreeze");
        CHECK(items[2] == L"102 Freeze (grey)");
        CHECK(Invoke(frozen.get(), "ors:freeze") == S_OK);
        CHECK(WatchState(path) == 0);
        CHECK(Invoke(frozen.get(), 1) == S_OK);
    }
    CHECK(Frozen(path).get().boolVal == VARIANT_FALSE);
    CHECK(WatchState(path) == 2);
    CHECK(Member(dll, CLSID_FrozenOverlay, path) == S_FALSE);

    // Its key installed: view and delete offered, install not.
    {
        installed_key key(pfx);
        std::vector<std::wstring> items = MenuOf(StorageMenu(dll, path).get());
        CHECK(std::vector<std::wstring>(items.begin() + 7, items.end()) ==
              std::vector<std::wstring>{L"  105 View installed key...", L"  106 Delete installed key...", L"  107 -",
                                        L"  108 Attach a key... (grey)", L"  109 Detach key...",
                                        L"  110 Install key... (grey)", L"  111 Export key..."});
    }

    // A failing command is reported in a box, and the call still succeeds.
    REQUIRE(DeleteFileW(path.c_str()));
    std::wstring reported;
    std::thread answer([&] {
        HWND box = WaitForWindow(L"Orrisafe");
        if (!box) return;
        reported = BoxText(box);
        Press(box, IDOK);
    });
    CHECK(Invoke(menu.get(), "ors:freeze") == S_OK);
    answer.join();
    CHECK(reported.rfind(L"Unable to complete operation due to internal error.\n\n", 0) == 0);

    // Two files, a folder, a file that is no storage: no menu.
    HRESULT hr = S_OK;
    MakeStorage(dir, L"second", SeparateFile, pfx);
    CHECK_FALSE(StorageMenu(dll, dir.path(), {L"second.orrisafe", L"second.pfx"}, hr));
    CHECK(hr == E_INVALIDARG);
    CHECK_FALSE(StorageMenu(dll, dir.path(), {L"second.pfx"}, hr));
    CHECK(FAILED(hr));
    auto init = dll.create<IShellExtInit>(CLSID_StorageContextMenu, IID_IShellExtInit);
    PIDLIST_ABSOLUTE folder = ILCreateFromPathW(dir.path().c_str());
    CHECK(FAILED(init->Initialize(folder, nullptr, HKEY_CLASSES_ROOT)));
    ILFree(folder);
    CHECK(init->Initialize(nullptr, nullptr, HKEY_CLASSES_ROOT) == E_FAIL);
}

TEST_CASE_FIXTURE(storage_bench, "overlays: their icons and priorities, and which storage files they mark") {
    loaded_module dll;
    wchar_t module[MAX_PATH];
    REQUIRE(GetModuleFileNameW(dll.get(), module, MAX_PATH));

    struct overlay {
        const CLSID* clsid;
        int index, priority;
    };
    for (const overlay& o : {overlay{&CLSID_FrozenOverlay, 1, 1}, overlay{&CLSID_InaccessibleOverlay, 2, 0},
                             overlay{&CLSID_KeyOverlay, 3, 2}}) {
        auto identifier = dll.create<IShellIconOverlayIdentifier>(*o.clsid, IID_IShellIconOverlayIdentifier);
        REQUIRE(identifier);
        wchar_t file[MAX_PATH] = L"";
        int index = -1, priority = -1;
        DWORD flags = 0;
        CHECK(identifier->GetOverlayInfo(file, MAX_PATH, &index, &flags) == S_OK);
        CHECK(_wcsicmp(file, module) == 0);
        CHECK(index == o.index);
        CHECK(flags == (ISIOI_ICONFILE | ISIOI_ICONINDEX));
        // The index names an icon of the module.
        HICON icon = nullptr;
        CHECK(ExtractIconExW(file, index, &icon, nullptr, 1) == 1);
        if (icon) DestroyIcon(icon);
        for (int size : {4, 0}) {
            index = -1;
            CHECK(identifier->GetOverlayInfo(file, size, &index, &flags) == E_OUTOFMEMORY);
            CHECK(index == o.index);
        }
        CHECK(identifier->GetPriority(&priority) == S_OK);
        CHECK(priority == o.priority);
        CHECK(identifier->GetPriority(nullptr) == E_POINTER);
        CHECK(identifier->IsMemberOf(dir.file(L"other.txt").c_str(), 0) == S_FALSE);
    }

    // Every group's images are its own, as the group describes them: none lost to another group's of the same number.
    std::vector<std::vector<icon_image>> groups;
    CHECK(EnumResourceNamesW(dll.get(), RT_GROUP_ICON, CollectIconGroup, reinterpret_cast<LONG_PTR>(&groups)));
    CHECK(groups.size() == 7);
    std::set<WORD> images;
    for (const auto& group : groups) {
        CHECK_FALSE(group.empty());
        for (const icon_image& image : group) {
            CHECK(images.insert(image.id).second);
            HRSRC data = FindResourceW(dll.get(), MAKEINTRESOURCEW(image.id), RT_ICON);
            CHECK((data && SizeofResource(dll.get(), data) == image.size));
        }
    }

    // The key overlay: a storage whose name ends in capitals, by its flags; not with a further extension.
    const std::wstring lower = MakeStorage(dir, L"x", SeparateFile, pfx);
    const std::wstring path = dir.file(L"x.ORRISAFE");
    REQUIRE(MoveFileW(lower.c_str(), path.c_str()));
    SetStorageFlags(shell::OpenStorageAtPath(path).get(), 3);
    CHECK(Member(dll, CLSID_KeyOverlay, path) == S_OK);
    REQUIRE(CopyFileW(path.c_str(), (path + L".bak").c_str(), FALSE));
    CHECK(Member(dll, CLSID_KeyOverlay, path + L".bak") == S_FALSE);
    SetStorageFlags(shell::OpenStorageAtPath(path).get(), 2);
    CHECK(Member(dll, CLSID_KeyOverlay, path) == S_FALSE);
    CHECK(Member(dll, CLSID_InaccessibleOverlay, path) == S_FALSE);
    CHECK(Member(dll, CLSID_FrozenOverlay, path) == S_FALSE);

    // The service stopped and disabled: every storage file is inaccessible, and neither frozen nor keyed.
    SetStorageFlags(shell::OpenStorageAtPath(path).get(), 3);
    REQUIRE(service_testing::run_server(L"/s") == 0);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, L"orriserver", SERVICE_ALL_ACCESS);
    REQUIRE(service);
    auto start_type = [&](DWORD type) {
        return ChangeServiceConfigW(service, SERVICE_NO_CHANGE, type, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
    };
    CHECK(start_type(SERVICE_DISABLED));
    CHECK(Member(dll, CLSID_InaccessibleOverlay, path) == S_OK);
    CHECK(Member(dll, CLSID_KeyOverlay, path) == S_FALSE);
    CHECK(Member(dll, CLSID_FrozenOverlay, path) == S_FALSE);
    CHECK(start_type(SERVICE_DEMAND_START));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    CHECK(Member(dll, CLSID_KeyOverlay, path) == S_OK);
}
