// The "Orrisafe tools" page as a user reaches it: orrishell.dll registered, "properties" of a storage file's item
// menu from its folder (the system's sheet loads our handler), the page's buttons pressed on the screen.
#include <doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <shell/input_prompt_resources.h>
#include <shell/storage_at_path.h>
#include <shell/storage_commands_resources.h>
#include <shell/storage_freeze_query.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>
#include <tools/text.h>

#include "background_call.h"
#include "loaded_shell_module.h"
#include "shell_objects.h"
#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

// orrishell.dll registered in the prefix for the scope.
class registered_shell {
public:
    registered_shell() : result_(testing::run_process(L"regsvr32 /s \"" + dll() + L"\"")) {}
    ~registered_shell() { testing::run_process(L"regsvr32 /s /u \"" + dll() + L"\""); }
    registered_shell(const registered_shell&) = delete;
    registered_shell& operator=(const registered_shell&) = delete;
    bool ready() const { return result_ == 0; }

private:
    static std::wstring dll() { return service_testing::dist_file(L"orrishell.dll"); }
    DWORD result_;
};

// "properties" on the file's item menu from its folder, as Explorer runs it: the sheet is modal on this thread.
bool ShowProperties(const std::wstring& folder, const std::wstring& name) {
    tools::interface_holder<IContextMenu> menu;
    if (FAILED(FilesObject(folder, {name}, IID_IContextMenu, menu.put_void()))) return false;
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof(info);
    info.lpVerb = "properties";
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info) == S_OK;
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages) {
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

// The handler's pages in a sheet of our own, modal on this thread; the handler is released before the sheet ends.
// meanwhile runs between the handler's initialisation and the sheet.
bool ShowOwnSheet(const loaded_module& dll, const std::wstring& folder, const std::wstring& name,
                  const std::function<void()>& meanwhile) {
    auto handler = dll.create<IShellExtInit>(CLSID_StoragePropSheet, IID_IShellExtInit);
    tools::interface_holder<IDataObject> data;
    tools::interface_holder<IShellPropSheetExt> pages_of;
    std::vector<HPROPSHEETPAGE> pages;
    if (!handler || FAILED(FilesObject(folder, {name}, IID_IDataObject, data.put_void())) ||
        handler->Initialize(nullptr, data.get(), HKEY_CLASSES_ROOT) != S_OK ||
        handler->QueryInterface(IID_IShellPropSheetExt, pages_of.put_void()) != S_OK ||
        pages_of->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages)) != S_OK || pages.size() != 1)
        return false;
    pages_of.reset();
    handler.reset();
    meanwhile();
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPTITLE;
    header.pszCaption = name.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    return PropertySheetW(&header) != -1;
}

bool IsSheet(HWND window) { return FindWindowExW(window, nullptr, WC_TABCONTROLW, nullptr) != nullptr; }

// Brings the page with that tab text to the front; its window, or null.
HWND SelectPage(HWND sheet, const std::wstring& title) {
    HWND tabs = FindWindowExW(sheet, nullptr, WC_TABCONTROLW, nullptr);
    const int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = L"";
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 64;
        SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        if (title == text) {
            SendMessageW(sheet, PSM_SETCURSEL, i, 0);
            return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        }
    }
    return nullptr;
}

// Which of the page's buttons are enabled, in the order of the page.
std::wstring Enabled(HWND page) {
    std::wstring state;
    for (int id : {IDC_VIEW_KEY, IDC_UNINSTALL_KEY, IDC_INSTALL_KEY, IDC_ATTACH_KEY, IDC_DETACH_KEY, IDC_EXPORT_KEY,
                   IDC_DEFRAGMENT, IDC_FREEZE, IDC_UNFREEZE}) {
        wchar_t text[64] = L"";
        GetDlgItemTextW(page, id, text, 64);
        if (IsWindowEnabled(GetDlgItem(page, id))) state += std::wstring(state.empty() ? L"" : L", ") + text;
    }
    return state;
}

// Waits until the page's enabled buttons are as expected (they change once the command's boxes are gone).
std::wstring EnabledOnceSettled(HWND page, const std::wstring& expected) {
    std::wstring state;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(50))
        if ((state = Enabled(page)) == expected) break;
    return state;
}

HWND WaitForBox(const std::wstring& start, DWORD timeout_ms = 15000) {
    return WaitForWindow(L"Orrisafe", [&](HWND w) { return BoxText(w).rfind(start, 0) == 0; }, timeout_ms);
}

}  // namespace

TEST_CASE_FIXTURE(storage_bench,
                  "the tools page of a storage file's properties runs its commands and follows the storage's state") {
    registered_shell registered;
    REQUIRE(registered.ready());
    const std::wstring path = MakeStorage(dir, L"page", SeparateFileAndAttach, pfx);
    const std::wstring attached = L"Install key..., Detach key..., Export key..., Defragmentation..., Freeze";

    // The page holds its handler until the sheet lets the page go, and no longer: then nothing of the DLL is alive.
    // (A sheet of our own: Wine's shell keeps a reference of every sheet handler it initialises.) The storage is
    // away when the page starts: that is told, and the key buttons stay as the page was made.
    {
        loaded_module dll;
        const std::wstring away = dir.file(L"away.orrisafe");
        background_call own([&] {
            return ShowOwnSheet(dll, dir.path(), L"page.orrisafe", [&] { MoveFileW(path.c_str(), away.c_str()); });
        });
        HWND failure = WaitForBox(L"An error has occured:\n\n");
        CHECK(failure);
        if (failure) Press(failure, IDOK);
        HWND sheet = WaitForTopWindow(IsSheet);
        REQUIRE(sheet);
        HWND page = SelectPage(sheet, L"Orrisafe tools");
        REQUIRE(page);
        CHECK(Enabled(page) == L"Defragmentation..., Freeze");
        CHECK(dll.can_unload() == S_FALSE);
        PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        REQUIRE(own.finished());
        CHECK(own.result());
        CHECK(dll.can_unload() == S_OK);
        REQUIRE(MoveFileW(away.c_str(), path.c_str()));
    }

    background_call properties([&] { return ShowProperties(dir.path(), L"page.orrisafe"); });
    HWND sheet = WaitForTopWindow(IsSheet);
    REQUIRE(sheet);
    HWND page = SelectPage(sheet, L"Orrisafe tools");
    REQUIRE(page);
    CHECK(testing::screenshot(L"shell-shots", "tools-page"));
    // A key attached and not installed; open.
    CHECK(Enabled(page) == attached);

    Press(page, IDC_FREEZE);
    CHECK(EnabledOnceSettled(page, L"Install key..., Detach key..., Export key..., Defragmentation..., Unfreeze") ==
          L"Install key..., Detach key..., Export key..., Defragmentation..., Unfreeze");
    CHECK(shell::IsStorageFrozenAtPath(path));
    Press(page, IDC_UNFREEZE);
    CHECK(EnabledOnceSettled(page, attached) == attached);
    CHECK_FALSE(shell::IsStorageFrozenAtPath(path));

    // Detached, then attached again: the key buttons follow without reopening the sheet.
    Press(page, IDC_DETACH_KEY);
    HWND question = WaitForBox(L"Do you really want to remove attached key?");
    REQUIRE(question);
    Press(question, IDYES);
    const std::wstring detached = L"Attach a key..., Defragmentation..., Freeze";
    CHECK(EnabledOnceSettled(page, detached) == detached);
    Press(page, IDC_ATTACH_KEY);
    HWND chooser = WaitForWindow(L"Select a storage key to attach");
    REQUIRE(chooser);
    SetDlgItemTextW(chooser, 0x480, dir.file(L"page.pfx").c_str());
    SetDlgItemTextW(chooser, 0x47C, dir.file(L"page.pfx").c_str());
    Press(chooser, IDOK);
    HWND prompt = WaitForWindow(L"Orrisafe", [](HWND w) { return GetDlgItem(w, IDC_INPUT_MASKED) != nullptr; });
    REQUIRE(prompt);
    SetDlgItemTextW(prompt, IDC_INPUT_MASKED, key_password);
    Press(prompt, IDOK);
    CHECK(EnabledOnceSettled(page, attached) == attached);
    CHECK(GetStorageFlags(shell::OpenStorageAtPath(path).get()) == 1);

    // The storage gone while its page is open: each failure is told once, the buttons stay.
    REQUIRE(DeleteFileW(path.c_str()));
    Press(page, IDC_FREEZE);
    HWND failure = WaitForBox(L"Unable to freeze the storage.\n\n");
    CHECK(failure);
    if (failure) Press(failure, IDOK);
    Press(page, IDC_DETACH_KEY);
    question = WaitForBox(L"Do you really want to remove attached key?");
    REQUIRE(question);
    Press(question, IDYES);
    failure = WaitForBox(L"An error has occured:\n\n");
    CHECK(failure);
    if (failure) Press(failure, IDOK);
    CHECK(WaitUntilGone(failure));
    CHECK_FALSE(WaitForBox(L"An error has occured:", 1000));
    CHECK(EnabledOnceSettled(page, attached) == attached);

    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    REQUIRE(properties.finished());
    CHECK(properties.result());
}
