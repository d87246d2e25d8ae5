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
// The whole status record of a service; all zero when it is not installed.
SERVICE_STATUS service_status(const wchar_t* name = L"orriserver");
// Sends a control; false with the last error set when the manager or the service refuses it.
bool control_service(DWORD control, const wchar_t* name = L"orriserver");
// Waits until the service reports `state`; returns the last state seen.
DWORD wait_for_service_state(DWORD state, DWORD timeout_ms = 15000);

// The service's running process, 0 when it runs none.
DWORD service_process_id();
// Ends the service's process at once: a service that stopped answering cannot be stopped.
void end_service_process();

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

// The type library registered by the installer's tool, and removed again at the end.
class registered_type_library {
public:
    registered_type_library();
    ~registered_type_library();
    registered_type_library(const registered_type_library&) = delete;
    registered_type_library& operator=(const registered_type_library&) = delete;
    DWORD result() const { return result_; }

private:
    DWORD result_ = 1;
};

// The product's server as an installation leaves it: the service installed ("/i") and the type library
// registered; both removed again when the scope ends. ready() tells whether both steps succeeded.
class installed_server {
public:
    installed_server();
    installed_server(const installed_server&) = delete;
    installed_server& operator=(const installed_server&) = delete;
    bool ready() const { return installed_ == 0 && type_library_.result() == 0; }

private:
    installed_service_guard guard_;  // undoes the installation last
    DWORD installed_ = 1;
    registered_type_library type_library_;
};

}  // namespace service_testing
