// The pre-install check: its decision from given answers, and its export as the installer loads it.
#include <doctest.h>
#include <windows.h>

#include <precheck_decision.h>

#include <string>

#include "installer_paths.h"

using precheck::decide;
using precheck::platform_answers;

TEST_CASE("the check turns away servers, 32-bit processes on 64-bit Windows and Safe Mode, in this order") {
    CHECK(decide({false, false, false}) == 0);
    CHECK(decide({true, false, false}) == 1);
    CHECK(decide({false, true, false}) == 2);
    CHECK(decide({false, false, true}) == 3);
    // A server edition that also runs in Safe Mode, or under WoW64, is a server edition.
    CHECK(decide({true, false, true}) == 1);
    CHECK(decide({true, true, false}) == 1);
    CHECK(decide({true, true, true}) == 1);
    CHECK(decide({false, true, true}) == 2);
}

namespace {

// The platform's answers, asked in other ways than the check asks them.
platform_answers answers_of_this_machine() {
    platform_answers a;
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    REQUIRE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
    a.server_edition = version.wProductType != VER_NT_WORKSTATION;
    BOOL wow64 = FALSE;
    REQUIRE(IsWow64Process(GetCurrentProcess(), &wow64));
    a.wow64 = wow64 != FALSE;
    a.safe_mode = GetSystemMetrics(SM_CLEANBOOT) != 0;
    return a;
}

struct library {
    HMODULE h;
    explicit library(const std::wstring& path) : h(LoadLibraryW(path.c_str())) {}
    ~library() { if (h) FreeLibrary(h); }
};

}  // namespace

TEST_CASE("orriprecheck.dll exports the check under its decorated name and answers for this machine") {
    library dll(installer_testing::dist_file(L"orriprecheck.dll"));
    REQUIRE(dll.h != nullptr);
    using check_fn = int(WINAPI*)();
    auto check = reinterpret_cast<check_fn>(reinterpret_cast<void*>(GetProcAddress(dll.h, "_PreInstallCheck@0")));
    REQUIRE(reinterpret_cast<void*>(check) != nullptr);
    // The installer knows only the decorated name.
    CHECK(reinterpret_cast<void*>(GetProcAddress(dll.h, "PreInstallCheck")) == nullptr);

    platform_answers here = answers_of_this_machine();
    CAPTURE(here.server_edition);
    CAPTURE(here.wow64);
    CAPTURE(here.safe_mode);
    CHECK(check() == decide(here));
    // Asking twice gives the same answer: the check keeps no state.
    CHECK(check() == decide(here));
}
