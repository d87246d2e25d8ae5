// A storage shown as Explorer shows it: the folder, initialised with a storage file's ID list, browsed to in the
// shell's own browser control; its list read back from the screen and photographed.
#include <doctest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/tests/service_fixture.h>
#include <shell/storage_key_map.h>
#include <shell/storage_shell_folder.h>
#include <tools/tests/test_support.h>

#include "item_id_fixture.h"
#include "storage_fixture.h"
#include "test_shell_browser.h"

using namespace shell_testing;

namespace {

std::wstring column_title(HWND list, int column) {
    wchar_t text[64] = L"";
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = text;
    header.cchTextMax = 64;
    if (!SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&header))) return L"<none>";
    return text;
}

// Serves the window messages of this thread while the body runs elsewhere.
void pump_while(const std::function<void()>& body) {
    bool done = false;
    std::thread worker([&] {
        body();
        done = true;
    });
    while (!done) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(20);
    }
    worker.join();
}

}  // namespace

TEST_CASE("a storage in the shell's browser: its items, columns and texts on the screen") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::com_apartment apartment;
    testing::scratch_dir dir;
    tools::byte_buffer pfx;
    const std::wstring path = MakeStorage(dir, L"Holiday photos", SeparateFile, pfx);
    installed_key key(pfx);
    GUID id{};
    {
        auto server = ConnectServer();
        auto root = OpenStorageOrThrow(server.get(), path);
        id = GetStorageId(root.get());
        OpenFolderOrThrow(root.get(), L"Beach", VARIANT_TRUE);
        for (auto [name, size] : {std::pair{L"sunset.jpg", 5000}, std::pair{L"notes.txt", 700}}) {
            auto file = OpenFileOrThrow(root.get(), name, VARIANT_TRUE);
            std::vector<BYTE> bytes(size, 1);
            ULONG written = 0;
            GetStreamOrThrow(file.get())->Write(bytes.data(), static_cast<ULONG>(size), &written);
        }
    }

    tools::interface_holder<CStorageShellFolder> folder(new CStorageShellFolder());
    CIdList list(ILCreateFromPathW(path.c_str()));
    REQUIRE(folder->Initialize(list.get()) == S_OK);
    {
        auto server = ConnectServer();
        SetItemComment(FindElementOrThrow(OpenStorageOrThrow(server.get(), path).get(), L"notes.txt").get(),
                       L"What to take along", CStorageKeyMap::Instance().Find(id).bytes());
    }

    test_shell_browser browser(L"Orrisafe storage view", 760, 360);
    REQUIRE(browser.Show(folder.get()) == S_OK);
    PumpMessages(300);
    HWND view = browser.List();
    REQUIRE(view);
    REQUIRE(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0) == 3);
    CHECK(column_title(view, 0) == L"Name");
    CHECK(column_title(view, 1) == L"Size");
    CHECK(column_title(view, 2) == L"Type");
    CHECK(column_title(view, 3) == L"Comment");
    // Folders first, then the files by name.
    CHECK(testing::list_view_text(view, 0, 0) == L"Beach");
    CHECK(testing::list_view_text(view, 1, 0) == L"notes.txt");
    CHECK(testing::list_view_text(view, 1, 1) == L"1 Kb");
    CHECK(testing::list_view_text(view, 1, 3) == L"What to take along");
    CHECK(testing::list_view_text(view, 2, 0) == L"sunset.jpg");
    CHECK(testing::list_view_text(view, 2, 1) == L"5 Kb");
    bool shot = false;
    pump_while([&] { shot = testing::screenshot(L"shell-shots", "storage-view"); });
    CHECK(shot);


    // Renamed over the browser's window: the view is refreshed through the browser that window answers with.
    PIDLIST_RELATIVE parsed = nullptr;
    REQUIRE(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(L"notes.txt"), nullptr, &parsed, nullptr) ==
            S_OK);
    CIdList notes(parsed);
    extensions_shown_as shown(true);
    CHECK(folder->SetNameOf(browser.window(), notes.get(), L"packing list.txt", SHGDN_INFOLDER, nullptr) == S_OK);
    PumpMessages(300);
    CHECK(testing::list_view_text(browser.List(), 1, 0) == L"packing list.txt");
    CHECK(testing::list_view_text(browser.List(), 1, 3) == L"What to take along");

    browser.Close();
    // The view has let the folder go: it still holds its one key reference until it goes itself.
    CHECK(folder->HoldsKeyReference());
    CHECK(CStorageKeyMap::Instance().Count(id) == 1);
    folder.reset();
    CHECK(CStorageKeyMap::Instance().Count(id) == 0);
    CStorageKeyMap::Instance().Remove(id);
}
