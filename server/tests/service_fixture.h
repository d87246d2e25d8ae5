// What the service tests share: running orriserver.exe from the distribution folder, reading the
// service's state, and undoing an installation on every path.
#pragma once
#include <windows.h>
#include <string>

namespace service_testing {

std::wstring dist_file(const std::wstring& name);
std::wstring server_path();

// Runs orriserver.exe with the arguments; the output comes back without carriage returns.
DWORD run_server(const std::wstring& arguments, std::string* output = nullptr);

// The service's current state, or 0 when it is not installed.
DWORD service_state();
// Waits until the service reports `state`; returns the last state seen.
DWORD wait_for_service_state(DWORD state, DWORD timeout_ms = 15000);

bool registry_key_exists(HKEY root, const std::wstring& subkey);

// The first line the program prints for a failing system call with this code.
std::string error_line(DWORD code);

// Stops and uninstalls the service (quietly) when the scope ends, whatever the test did.
class installed_service_guard {
public:
    installed_service_guard() = default;
    ~installed_service_guard();
    installed_service_guard(const installed_service_guard&) = delete;
    installed_service_guard& operator=(const installed_service_guard&) = delete;
};

}  // namespace service_testing
