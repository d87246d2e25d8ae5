#include "test_support.h"

#include <doctest.h>
#include <platform/running_under_wine.h>
#include <tools/global_mutex.h>
#include <tools/paths.h>
#include <tools/security.h>
#include <tools/text.h>
#include <tools/user_guide.h>
#include <tools/win_except.h>

#include <sddl.h>
#include <atomic>
#include <thread>

namespace {
bool ends_with_nocase(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && _wcsicmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

std::wstring self_path() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// Keeps the longest text of the static controls (a message box's message); a plain function, since
// a lambda is no stdcall callback on x86.
BOOL CALLBACK longest_static_text(HWND child, LPARAM p) {
    wchar_t cls[32] = {}, buf[1024] = {};
    GetClassNameW(child, cls, 32);
    GetWindowTextW(child, buf, 1024);
    auto* best = reinterpret_cast<std::wstring*>(p);
    if (_wcsicmp(cls, L"Static") == 0 && wcslen(buf) > best->size()) *best = buf;
    return TRUE;
}

// Runs action on this thread while another waits for the message box with that caption, reads its
// text and closes it.
std::wstring message_box_text(const wchar_t* caption, void (*action)(const wchar_t*)) {
    std::wstring text;
    std::atomic<bool> found{false};
    std::thread watcher([&] {
        for (int i = 0; i < 400 && !found; ++i) {
            HWND box = FindWindowW(L"#32770", caption);
            if (box) {
                EnumChildWindows(box, longest_static_text, reinterpret_cast<LPARAM>(&text));
                found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                break;
            }
            Sleep(50);
        }
    });
    action(caption);
    found = true;
    watcher.join();
    return text;
}
}  // namespace

TEST_CASE("path pieces") {
    CHECK(tools::path_directory(L"C:\\a\\b.txt") == L"C:\\a");
    CHECK(tools::path_directory(L"C:\\b.txt") == L"C:");
    CHECK(tools::path_directory(L"b.txt").empty());
    CHECK(tools::path_directory(L"").empty());
    CHECK(tools::path_directory(L"\\\\server\\share\\f.pfx") == L"\\\\server\\share");
    CHECK(tools::path_directory(L"C:\\deep\\er\\name") == L"C:\\deep\\er");

    CHECK(tools::path_extension(L"C:\\a\\key.file.pfx") == L".pfx");
    CHECK(tools::path_extension(L"C:\\a.d\\noext").empty());
    CHECK(tools::path_extension(L"x.") == L".");
    CHECK(tools::path_file_name(L"C:\\a\\key.pfx") == L"key.pfx");
    CHECK(tools::path_file_name(L"key.pfx") == L"key.pfx");
}

TEST_CASE("module_file_path names the program and its libraries") {
    std::wstring self = tools::module_file_path(nullptr);
    CHECK(self == self_path());
    CHECK(ends_with_nocase(self, L"\\tools_tests.exe"));
    CHECK(ends_with_nocase(tools::module_file_path(GetModuleHandleW(L"kernel32.dll")), L"\\kernel32.dll"));
    try {
        tools::module_file_path(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10)));
        FAIL("no module there");
    } catch (const tools::win_except& e) {
        CHECK(e.code() != 0);
    }
}

TEST_CASE("ShellExecute results and their texts") {
    std::wstring text = L"untouched";
    CHECK_FALSE(tools::shell_execute_error_text(33, text));
    CHECK_FALSE(tools::shell_execute_error_text(4000, text));
    CHECK(text == L"untouched");
    struct row {
        INT_PTR code;
        const wchar_t* text;
    };
    for (row r : {row{2, L"The specified file was not found."}, row{0, L"The operating system is out of memory or resources."},
                  row{32, L"The specified DLL was not found."}, row{26, L"A sharing violation occurred."},
                  row{4, L"ShellExecute error #4"}, row{1, L"ShellExecute error #1"}}) {
        CHECK(tools::shell_execute_error_text(r.code, text));
        CHECK(text == r.text);
    }
}

TEST_CASE("the user guide's absence is told in a message box naming the file") {
    std::wstring text = message_box_text(L"Orrisafe guide test", [](const wchar_t* caption) {
        tools::open_user_guide(caption, nullptr, nullptr);
    });
    std::wstring expected = L"Unable to open help file. File " + tools::path_directory(self_path()) +
                            L"\\orrisafe-guide.pdf was not found.\n\nPlease, reinstall the program and try again.";
    CHECK(tools::to_narrow(text) == tools::to_narrow(expected));
}

TEST_CASE("SDDL to hexadecimal gives the binary descriptor, which reads back") {
    std::wstring hex = tools::sddl_to_hex(L"D:(A;;GA;;;WD)");
    tools::byte_buffer bytes = testing::from_hex(hex);
    REQUIRE(bytes.size() * 2 == hex.size());
    auto* sd = reinterpret_cast<PSECURITY_DESCRIPTOR>(bytes.data());
    REQUIRE(IsValidSecurityDescriptor(sd));
    CHECK(GetSecurityDescriptorLength(sd) == bytes.size());
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    REQUIRE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
    REQUIRE(present);
    REQUIRE(dacl->AceCount == 1);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    REQUIRE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
    CHECK(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE);
    CHECK(ace->Mask == GENERIC_ALL);
    CHECK(IsWellKnownSid(&ace->SidStart, WinWorldSid));

    CHECK_THROWS_AS(tools::sddl_to_hex(L"D:(nonsense"), tools::win_except);
}

TEST_CASE("the Guests group") {
    tools::byte_buffer sid = tools::guests_sid();
    REQUIRE(IsValidSid(sid.data()));
    wchar_t* text = nullptr;
    REQUIRE(ConvertSidToStringSidW(sid.data(), &text));
    CHECK(std::wstring(text) == L"S-1-5-32-546");
    LocalFree(text);
    // The prefix's user is an administrator, never a guest.
    CHECK_FALSE(tools::is_guest_user());
}

TEST_CASE("the Wine probe agrees with the system's registry, which Wine fills with keys of its own") {
    HKEY key = nullptr;
    bool wine_keys = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    CHECK(platform::running_under_wine() == wine_keys);
}

TEST_CASE("the global mutex: a second creation, here and in another process, succeeds too") {
    tools::auto_kernel_handle first = tools::create_global_mutex();
    REQUIRE(first);
    // Initially owned by this thread: another thread cannot take it.
    DWORD other = 0;
    std::thread([&] { other = WaitForSingleObject(first.get(), 0); }).join();
    CHECK(other == WAIT_TIMEOUT);

    tools::auto_kernel_handle second = tools::create_global_mutex();
    CHECK(second);
    CHECK(GetLastError() == ERROR_ALREADY_EXISTS);

    SetEnvironmentVariableW(L"ORRI_MUTEX_CHILD", L"1");
    std::string output;
    DWORD code = testing::run_process(L"\"" + self_path() + L"\" -tc=\"global mutex child\"", &output);
    SetEnvironmentVariableW(L"ORRI_MUTEX_CHILD", nullptr);
    INFO(output);
    CHECK(code == 0);
    CHECK(output.find("assertions: 2 | 2 passed") != std::string::npos);
}

TEST_CASE("global mutex child") {
    if (testing::env(L"ORRI_MUTEX_CHILD").empty()) return;  // only as the child of the test above
    tools::auto_kernel_handle mutex = tools::create_global_mutex();
    CHECK(mutex);
    CHECK(GetLastError() == ERROR_ALREADY_EXISTS);
}
