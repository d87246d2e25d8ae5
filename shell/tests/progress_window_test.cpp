// The progress windows on the screen: found by caption, their texts and bar read back, Cancel pressed, both looks
// photographed; a window that cannot be made keeps nobody waiting; byte counts as they show them.
#include <doctest.h>
#include <windows.h>
#include <commctrl.h>

#include <platform/dialog_framework.h>
#include <shell/format_size.h>
#include <shell/progress_window.h>
#include <shell/progress_window_resources.h>
#include <tools/tests/test_support.h>

#include "window_driver.h"

using namespace shell;
using namespace shell_testing;

namespace {

progress_text_record deleting(DWORD kind) {
    progress_text_record parameters;
    parameters.module = platform::this_module();
    parameters.kind = kind;
    parameters.icon = ProductIcon(parameters.module);
    parameters.texts[0] = L"Deleting...";
    parameters.texts[3] = L"Deleting 4 items";
    return parameters;
}

std::wstring item_text(HWND dialog, int id) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

int bar(HWND dialog) { return static_cast<int>(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)); }

}  // namespace

TEST_CASE("the modern window: texts, bar and banner shown, Cancel seen by the operation, gone a second later") {
    auto controller = RunProgressWindow(deleting(5), true);
    IProgressWindow& window = controller->Window();
    CHECK(window.GetTemplateId() == 101);
    HWND dialog = WaitForWindow(L"Deleting...");
    REQUIRE(dialog);
    CHECK(dialog == controller->Dialog());
    CHECK(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    CHECK(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0) != 0);

    window.SetText2(L"Deleting 'a.txt'");
    window.SetText3(L"4 items remaining");
    window.SetText4(L"Deleting 4 items");
    CHECK(item_text(dialog, IDC_PROGRESS_MODERN_LINE1) == L"Deleting 'a.txt'");
    CHECK(item_text(dialog, IDC_PROGRESS_MODERN_LINE2) == L"4 items remaining");
    CHECK(window.GetText4() == L"Deleting 4 items");
    window.SetRange(0, 4);
    AdvanceProgress(window, 1);
    CHECK(window.GetPos() == 1);
    CHECK(bar(dialog) == 25);
    // The lower bound is not subtracted; an empty range shows nothing; the bar never leaves 0 to 100.
    window.SetRange(10, 14);
    window.SetPos(2);
    CHECK(bar(dialog) == 50);
    window.SetRange(5, 5);
    window.SetPos(3);
    CHECK(bar(dialog) == 0);
    window.SetRange(0, 2);
    window.SetPos(5);
    CHECK(bar(dialog) == 100);
    window.SetPos(1);
    window.SetText1(L"Deleting...");
    Sleep(300);
    CHECK(testing::screenshot(L"shell-shots", "progress-modern"));

    CHECK_FALSE(window.IsCancelled());
    Press(dialog, IDCANCEL);
    for (DWORD start = GetTickCount(); !window.IsCancelled() && GetTickCount() - start < 2000;) Sleep(10);
    CHECK(window.IsCancelled());
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    const DWORD cancelled_at = GetTickCount();
    CHECK(WaitUntilGone(dialog, 3000));
    const DWORD gone_after = GetTickCount() - cancelled_at;
    CHECK(gone_after >= 800);
    CHECK(gone_after < 2500);
    controller.reset();
}

TEST_CASE("the classic window, Cancel disabled from the start; its end waits for the window's second") {
    progress_text_record parameters = deleting(6);
    parameters.texts[0] = L"Integrity checkig...";
    parameters.texts[1] = L"Checking 'b.txt'";
    parameters.cancel_disabled = 1;
    auto controller = RunProgressWindow(parameters, false);
    CHECK(controller->Window().GetTemplateId() == 108);
    HWND dialog = WaitForWindow(L"Integrity checkig...");
    REQUIRE(dialog);
    CHECK(item_text(dialog, IDC_PROGRESS_CLASSIC_LINE1) == L"Checking 'b.txt'");
    CHECK_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    controller->Window().SetRange(0, 3);
    controller->Window().SetPos(2);
    CHECK(bar(dialog) == 66);
    Sleep(300);
    CHECK(testing::screenshot(L"shell-shots", "progress-classic"));
    const DWORD closing = GetTickCount();
    controller.reset();
    CHECK(GetTickCount() - closing >= 800);
    CHECK_FALSE(IsWindow(dialog));
}

TEST_CASE("a window that cannot be made keeps nobody waiting, and the version's window is the modern one here") {
    progress_text_record parameters = deleting(4);
    parameters.module = GetModuleHandleW(L"kernel32.dll");  // no templates there
    bool returned = testing::ends_within(5000, [&] {
        auto controller = RunProgressWindow(parameters, true);
        controller->Window().SetText2(L"nobody sees this");
        controller->Window().SetPos(1);
    });
    CHECK(returned);

    auto controller = RunProgressWindow(deleting(4));
    CHECK(controller->Window().GetTemplateId() == 101);
    CHECK(controller->Dialog() != nullptr);
}

TEST_CASE("byte counts: grouped by blanks or commas, or in units with two decimals") {
    CHECK(FormatSize(1234567, size_format::blanks) == L"1 234 567");
    CHECK(FormatSize(123, size_format::blanks) == L"123");
    CHECK(FormatSize(123456, size_format::blanks) == L"123 456");
    CHECK(FormatSize(1234567, size_format::commas) == L"1,234,567");
    CHECK(FormatSize(0, size_format::commas) == L"0");
    CHECK(FormatSize(1023, size_format::units) == L"1023 bytes");
    CHECK(FormatSize(1536, size_format::units) == L"1.50 Kb");
    CHECK(FormatSize(1ull << 20, size_format::units) == L"1.00 Mb");
    CHECK(FormatSize(1ull << 30, size_format::units) == L"1.00 Gb");
    CHECK(FormatSize(3ull << 40, size_format::units) == L"3.00 Tb");
    CHECK(FormatSize(5, 3).empty());
    CHECK(FormatSize(5, -1).empty());
}
