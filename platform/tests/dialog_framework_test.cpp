// The dialog framework serving a DLL as well as a program: templates from the module a dialog is given, dialogs on
// several threads at once, pages in a real property sheet.
#include "dialog_test_module.h"
#include "dialog_test_resources.h"

#include "platform/dialog_framework.h"
#include "tools/tests/test_support.h"

#include <doctest.h>
#include <string>
#include <vector>

namespace {

std::wstring window_text(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

bool wait_for(bool (*condition)(void*), void* context, DWORD timeout_ms = 15000) {
    for (DWORD start = GetTickCount(); !condition(context); Sleep(20))
        if (GetTickCount() - start > timeout_ms) return false;
    return true;
}

struct test_module {
    HMODULE module = LoadLibraryW(L"dialog_test_module.dll");
    ~test_module() {
        if (module) FreeLibrary(module);
    }
    template <typename F> F function(const char* name) const { return reinterpret_cast<F>(GetProcAddress(module, name)); }
};

// A dialog on a thread of its own: it labels itself, and ends only once every thread's dialog is open.
LONG g_open_dialogs = 0;
const LONG kThreads = 4;

class thread_dialog : public platform::dialog {
public:
    explicit thread_dialog(int number) : dialog(IDD_SAMPLE), label(L"thread " + std::to_wstring(number)) {}
    std::wstring label;
    DWORD init_thread = 0;
    int fonts_before_init = 0;
    bool saw_own_label = false;
    bool found_by_window = false;

protected:
    bool on_message(UINT message, WPARAM, LPARAM, LRESULT&) override {
        if (message == WM_SETFONT && !init_thread) ++fonts_before_init;
        if (message == WM_TIMER && g_open_dialogs == kThreads) {
            KillTimer(hwnd(), 1);
            saw_own_label = item_text(IDC_SAMPLE_TEXT) == label;
            found_by_window = from_window(hwnd()) == this;
            end_dialog(IDOK);
        }
        return false;
    }
    bool on_init_dialog() override {
        init_thread = GetCurrentThreadId();
        set_item_text(IDC_SAMPLE_TEXT, label);
        SetTimer(hwnd(), 1, 10, nullptr);
        InterlockedIncrement(&g_open_dialogs);
        return true;
    }
};

struct dialog_thread {
    thread_dialog* dialog;
    DWORD thread_id = 0;
    INT_PTR result = 0;
};

DWORD WINAPI run_thread_dialog(void* context) {
    auto run = static_cast<dialog_thread*>(context);
    run->thread_id = GetCurrentThreadId();
    run->result = run->dialog->do_modal(nullptr);
    return 0;
}

// The program's own page: it fills its text from the object, so the text proves which object the sheet reached.
class program_page : public platform::property_page {
public:
    program_page() : property_page(IDD_PAGE) {}
    LONG initialised = 0, applied = 0, released = 0;

protected:
    bool on_init_dialog() override {
        set_item_text(IDC_SAMPLE_TEXT, L"filled by the page object");
        InterlockedIncrement(&initialised);
        return true;
    }
    bool on_notify(NMHDR* header, LRESULT& result) override {
        if (header->code != static_cast<UINT>(PSN_APPLY)) return false;
        InterlockedIncrement(&applied);
        result = PSNRET_NOERROR;
        return true;
    }
    void on_page_released() override { InterlockedIncrement(&released); }
};

struct sheet_run {
    HPROPSHEETPAGE pages[2];
    INT_PTR result = 0;
};

DWORD WINAPI run_sheet(void* context) {
    auto run = static_cast<sheet_run*>(context);
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_NOAPPLYNOW;
    header.pszCaption = L"Framework sheet";
    header.nPages = 2;
    header.phpage = run->pages;
    run->result = PropertySheetW(&header);
    return 0;
}

HWND find_sheet() {
    return FindWindowW(L"#32770", L"Framework sheet");
}

}  // namespace

TEST_CASE("a dialog takes its template from the module it is given, the program's by default") {
    test_module dll;
    REQUIRE(dll.module);
    for (HINSTANCE resources : {static_cast<HINSTANCE>(nullptr), GetModuleHandleW(nullptr), dll.module}) {
        platform::dialog own(IDD_SAMPLE, resources);
        own.create_child(nullptr);
        CHECK(window_text(own.hwnd()) == (resources == dll.module ? L"Module dialog" : L"Program dialog"));
        own.destroy();
        CHECK(own.hwnd() == nullptr);
    }
}

TEST_CASE("modal dialogs run on several threads at once, each reaching its own object") {
    g_open_dialogs = 0;
    std::vector<thread_dialog*> dialogs;
    std::vector<dialog_thread> runs(kThreads);
    std::vector<HANDLE> threads;
    for (LONG i = 0; i < kThreads; ++i) {
        dialogs.push_back(new thread_dialog(i));
        runs[i].dialog = dialogs.back();
    }
    for (auto& run : runs) threads.push_back(CreateThread(nullptr, 0, run_thread_dialog, &run, 0, nullptr));
    CHECK(WaitForMultipleObjects(kThreads, threads.data(), TRUE, 60000) == WAIT_OBJECT_0);
    for (LONG i = 0; i < kThreads; ++i) {
        CAPTURE(i);
        CHECK(runs[i].result == IDOK);
        CHECK(dialogs[i]->init_thread == runs[i].thread_id);
        CHECK(dialogs[i]->fonts_before_init > 0);  // creation messages reached the object before WM_INITDIALOG
        CHECK(dialogs[i]->saw_own_label);
        CHECK(dialogs[i]->found_by_window);
        CHECK(dialogs[i]->hwnd() == nullptr);
        CloseHandle(threads[i]);
        delete dialogs[i];
    }
}

TEST_CASE("pages of the program and of a DLL live in a real property sheet") {
    test_module dll;
    REQUIRE(dll.module);
    auto create = dll.function<create_module_page_function>("create_module_page");
    REQUIRE(static_cast<bool>(create));
    program_page own;
    module_page_log log{};
    sheet_run run;
    run.pages[0] = own.create_page(L"Program tab");
    run.pages[1] = create(&log);
    REQUIRE(run.pages[1]);
    HANDLE thread = CreateThread(nullptr, 0, run_sheet, &run, 0, nullptr);

    REQUIRE(wait_for([](void*) { return find_sheet() != nullptr; }, nullptr));
    HWND sheet = find_sheet();
    REQUIRE(wait_for([](void* page) { return static_cast<program_page*>(page)->initialised > 0; }, &own));
    CHECK(own.hwnd() != nullptr);
    CHECK(platform::dialog::from_window(own.hwnd()) == &own);
    CHECK(GetAncestor(own.hwnd(), GA_ROOT) == sheet);
    CHECK(own.item_text(IDC_SAMPLE_TEXT) == L"filled by the page object");

    // The DLL's page is made when its tab is first shown, from the DLL's own template.
    SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
    REQUIRE(wait_for([](void* l) { return static_cast<module_page_log*>(l)->initialised > 0; }, &log));
    CHECK(std::wstring(log.text) == L"a page from the module");
    CHECK(GetAncestor(log.window, GA_ROOT) == sheet);
    CHECK(testing::screenshot(L"platform-shots", "property-sheet"));

    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    CHECK(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    CHECK(run.result > 0);
    CHECK(own.applied == 1);
    CHECK(log.applied == 1);
    // Both pages were let go by the sheet; the DLL's deleted itself.
    CHECK(own.released == 1);
    CHECK(log.released == 1);
    CHECK(own.hwnd() == nullptr);
}
