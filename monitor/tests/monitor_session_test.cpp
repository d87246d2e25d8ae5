// The probe loop and the real orrimonitor.exe against the installed service, in a Wine session of their own
// (own_session.sh): nothing else holds the product mutex there, and a killed server's stale registration reaches
// no other test.
#include <doctest.h>
#include <windows.h>

#include <monitor/server_probe.h>
#include <server/tests/service_fixture.h>
#include <tools/auto_handle.h>
#include <tools/com_initializer.h>
#include <tools/critical_section.h>
#include <tools/tests/test_support.h>

#include <process.h>
#include <utility>
#include <vector>

using namespace service_testing;
using bools = std::vector<bool>;

namespace {

// The probe loop on a thread of its own, in the multithreaded apartment as in the program, recording each
// notification with its time; stopped and joined when the scope ends.
class recorded_probe_loop {
public:
    explicit recorded_probe_loop(DWORD interval_ms) : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        settings_ = {interval_ms, [this](bool reachable) {
                         tools::scoped_lock lock(section_);
                         seen_.emplace_back(reachable, GetTickCount());
                     }, stop_.get()};
        thread_.take_over(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, this, 0, nullptr)));
    }
    ~recorded_probe_loop() {
        SetEvent(stop_.get());
        if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
    }
    bool running() const { return !thread_.empty(); }
    // The states notified from `since` on (all when 0), once there are `count` in all or timeout_ms passed.
    bools states_since(DWORD since, size_t count = 0, DWORD timeout_ms = 0) {
        for (DWORD start = GetTickCount();; Sleep(20)) {
            tools::scoped_lock lock(section_);
            if (seen_.size() >= count || GetTickCount() - start > timeout_ms) {
                bools states;
                for (const auto& [reachable, tick] : seen_)
                    if (static_cast<LONG>(tick - since) >= 0) states.push_back(reachable);
                return states;
            }
        }
    }

private:
    static unsigned __stdcall Run(void* self) {
        tools::com_initializer com(tools::com_threading::multithreaded);
        try {
            monitor::RunProbeLoop(static_cast<recorded_probe_loop*>(self)->settings_);
        } catch (...) {  // a record that could not be kept shows as a missing notification
        }
        return 0;
    }

    tools::auto_kernel_handle stop_, thread_;
    monitor::probe_settings settings_;
    tools::critical_section section_;
    std::vector<std::pair<bool, DWORD>> seen_;
};

bool product_mutex_exists_within(bool exists, DWORD timeout_ms) {
    for (DWORD start = GetTickCount();; Sleep(20)) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Orrisafe 3.0");
        if (mutex) CloseHandle(mutex);
        if ((mutex != nullptr) == exists) return true;
        if (GetTickCount() - start > timeout_ms) return false;
    }
}

// The windows of a process, top-level and message-only: the thread that owns one must serve its messages.
int windows_of(DWORD process) {
    int count = 0;
    for (HWND parent : {HWND(nullptr), HWND_MESSAGE})
        for (HWND window = nullptr; (window = FindWindowExW(parent, window, nullptr, nullptr));) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            count += owner == process;
        }
    return count;
}

// Whether COM may start the service on demand. Disabled, it stays stopped, as when an administrator disabled it:
// otherwise the next probe starts a stopped service again.
void set_start_type(DWORD start_type) {
    tools::auto_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    tools::auto_service_handle service(OpenServiceW(manager.get(), L"orriserver", SERVICE_CHANGE_CONFIG));
    REQUIRE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr));
}

// Kernel and user time of a process, in units of 100 ns.
ULONGLONG processor_time(HANDLE process) {
    FILETIME created, ended, kernel, user;
    REQUIRE(GetProcessTimes(process, &created, &ended, &kernel, &user));
    auto units = [](FILETIME t) { return ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart; };
    return units(kernel) + units(user);
}

}  // namespace

TEST_CASE("orrimonitor.exe without its update library, and the probe loop, as the server comes, goes and dies") {
    REQUIRE(product_mutex_exists_within(false, 0));
    testing::scratch_dir dir;  // a copy of the program, without orriupdate.dll beside it
    std::wstring command = dir.file(L"orrimonitor.exe");
    REQUIRE(CopyFileW(dist_file(L"orrimonitor.exe").c_str(), command.c_str(), TRUE));
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION monitor{};
    REQUIRE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &monitor));
    tools::auto_kernel_handle process(monitor.hProcess), thread(monitor.hThread);
    CHECK(product_mutex_exists_within(true, 1000));

    // Installed while the monitor runs: one of its next probes starts the service, and leaves it no window.
    CHECK(run_server(L"/i") == 0);
    registered_type_library type_library;
    CHECK(wait_for_service_state(SERVICE_RUNNING, 3000 + 5000) == SERVICE_RUNNING);
    CHECK(windows_of(monitor.dwProcessId) == 0);
    // Its processor time from here on: starting a Wine process costs more than a second on a loaded machine.
    ULONGLONG started_using = processor_time(process.get());

    // The first probe notifies; nothing follows while the server runs.
    constexpr DWORD interval = 300, quiet = 5 * interval;
    recorded_probe_loop loop(interval);
    REQUIRE(loop.running());
    CHECK(loop.states_since(0, 1, 5000) == bools{true});
    Sleep(quiet);

    // Stopped ("/s"): one notification, within one interval of the stop (a probe may take a moment itself).
    set_start_type(SERVICE_DISABLED);
    DWORD before_stop = GetTickCount();
    REQUIRE(run_server(L"/s") == 0);
    REQUIRE(wait_for_service_state(SERVICE_STOPPED) == SERVICE_STOPPED);
    CHECK(loop.states_since(before_stop, 2, interval + 1000) == bools{false});
    Sleep(quiet);

    // Back ("/r"): one more. (A probe may start it first, now that it may be started: it runs either way.)
    set_start_type(SERVICE_DEMAND_START);
    DWORD before_start = GetTickCount();
    run_server(L"/r");
    CHECK(wait_for_service_state(SERVICE_RUNNING) == SERVICE_RUNNING);
    CHECK(loop.states_since(before_start, 3, interval + 3000) == bools{true});
    Sleep(quiet);

    // Killed: Wine keeps the server's registration and every later activation fails: unreachable, once.
    DWORD before_kill = GetTickCount();
    end_service_process();
    CHECK(loop.states_since(before_kill, 4, interval + 2000) == bools{false});
    Sleep(quiet);
    CHECK(loop.states_since(0) == bools{true, false, true, false});

    // All the while (ten seconds and more) the monitor ran on, using little processor time.
    CHECK(WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT);
    CHECK(processor_time(process.get()) - started_using < 2 * 10000000ull);  // 2 s in units of 100 ns
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
    CHECK(product_mutex_exists_within(false, 2000));  // it was the monitor's (the server's went with its process)
}
