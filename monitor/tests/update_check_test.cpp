// The update checks with short pauses, this test program standing in for the update library (it exports the entry,
// counts the calls and answers as each case says); the real orriupdate.dll; the monitor's run for administrators
// and for other users.
#include <doctest.h>
#include <windows.h>

#include <monitor/monitor_run.h>
#include <server/tests/service_fixture.h>
#include <tools/paths.h>
#include <tools/tests/test_support.h>

#include <vector>

using monitor::update_check_end;

namespace {

std::vector<int> answers{1};  // call i answers answers[i], every later call the last one
volatile LONG calls = 0, arguments_seen = 0;

void answer(std::vector<int> chosen) {
    answers = std::move(chosen);
    calls = 0;
    arguments_seen = 0;
}

// HKEY_LOCAL_MACHINE's product key, removed before and after each case.
struct product_key {
    product_key() { remove(); }
    ~product_key() { remove(); }
    static void remove() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Pellmoor"); }
    static void set(DWORD type, const void* data, DWORD size) {
        REQUIRE(RegSetKeyValueW(HKEY_LOCAL_MACHINE, monitor::kProductKey, monitor::kCheckUpdatesValue, type, data,
                                size) == ERROR_SUCCESS);
    }
    static void set_number(DWORD value) { set(REG_DWORD, &value, sizeof value); }
    static bool has_value() {
        return RegGetValueW(HKEY_LOCAL_MACHINE, monitor::kProductKey, monitor::kCheckUpdatesValue, RRF_RT_ANY,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
};

constexpr DWORD first_delay = 20, interval = 50;

// The stop of each run: a timer that fires after `ms`, so that a run that should have ended soon cannot hang the test.
HANDLE stop_after(DWORD ms) {
    static HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    REQUIRE((timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)));
    return timer;
}

monitor::update_check_settings quick(std::wstring library = tools::module_file_path(nullptr), DWORD stop_ms = 3000) {
    return {first_delay, interval, std::move(library), stop_after(stop_ms)};
}

}  // namespace

extern "C" __declspec(dllexport) int WINAPI OrsCheckForUpdates(DWORD first, DWORD second) {
    InterlockedOr(&arguments_seen, static_cast<LONG>(first | second));
    size_t call = static_cast<size_t>(InterlockedIncrement(&calls) - 1);
    return answers[call < answers.size() ? call : answers.size() - 1];
}

TEST_CASE("update checks: switched off without a call unless CheckUpdates is a non-zero number") {
    product_key key;
    answer({1});
    CHECK(monitor::RunUpdateChecks(quick()) == update_check_end::switched_off);  // no key
    key.set_number(0);
    CHECK(monitor::RunUpdateChecks(quick()) == update_check_end::switched_off);
    key.set(REG_SZ, L"1", 4);
    CHECK(monitor::RunUpdateChecks(quick()) == update_check_end::switched_off);
    ULONGLONG wide = 1;
    key.set(REG_QWORD, &wide, sizeof wide);
    CHECK(monitor::RunUpdateChecks(quick()) == update_check_end::switched_off);
    CHECK(key.has_value());  // only the library's stop deletes it
    CHECK(calls == 0);
}

TEST_CASE("update checks: once per interval until the library says stop, which deletes the value") {
    product_key key;
    key.set_number(1);
    answer({0, -1, 7, 2});  // every answer but 2 means later
    DWORD start = GetTickCount();
    CHECK(monitor::RunUpdateChecks(quick()) == update_check_end::stop_checking);
    CHECK(GetTickCount() - start + 20 >= first_delay + 3 * interval);  // (the tick count moves in steps up to 16 ms)
    CHECK(calls == 4);
    CHECK(arguments_seen == 0);
    CHECK_FALSE(key.has_value());

    // Stopped from outside, after no more checks than the intervals allow.
    key.set_number(1);
    answer({1});
    CHECK(monitor::RunUpdateChecks(quick(tools::module_file_path(nullptr), 10 * interval)) ==
          update_check_end::stopped);
    CHECK(calls >= 1);
    CHECK(calls <= 10);

    // A missing library, or one without the entry, ends only the checks; orriupdate.dll has no source to ask.
    testing::scratch_dir dir;
    CHECK(monitor::RunUpdateChecks(quick(dir.file(L"orriupdate.dll"))) == update_check_end::library_missing);
    CHECK(monitor::RunUpdateChecks(quick(service_testing::dist_file(L"orriprecheck.dll"))) ==
          update_check_end::library_missing);
    CHECK(key.has_value());
    CHECK(monitor::RunUpdateChecks(quick(service_testing::dist_file(L"orriupdate.dll"))) ==
          update_check_end::stop_checking);
    CHECK_FALSE(key.has_value());
}

TEST_CASE("monitor run: only an administrator's runs the update checks") {
    testing::com_apartment apartment;
    product_key key;
    for (bool administrator : {false, true}) {
        CAPTURE(administrator);
        key.set_number(1);
        answer({1});
        std::vector<bool> notified;
        auto update = quick(tools::module_file_path(nullptr), 8 * interval);
        monitor::probe_settings probe{interval, [&](bool reachable) { notified.push_back(reachable); }, update.stop};
        monitor::RunMonitor(probe, update, administrator);
        CHECK((calls > 0) == administrator);
        CHECK(notified == std::vector<bool>{false});  // no server is installed: unreachable, whoever runs it
    }
}
