#include "service_installation.h"

#include <windows.h>

#include <tools/auto_handle.h>
#include <tools/win_except.h>

#include "server_identity.h"

namespace server {

namespace {

const wchar_t display_name[] = L"Orrisafe Server";
const wchar_t description[] =
    L"Provides the set of basic operations on Orrisafe storages. If this service is stopped, any attempt to "
    L"access to Orrisafe storage will fail.";
// A list of one name, ended by an empty one.
const wchar_t dependencies[] = L"RPCSS\0";

tools::auto_service_handle checked(SC_HANDLE handle) {
    if (!handle) tools::throw_last_error();
    return tools::auto_service_handle(handle);
}

tools::auto_service_handle open_manager() { return checked(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

tools::auto_service_handle open_service(const tools::auto_service_handle& manager) {
    return checked(OpenServiceW(manager.get(), service_name, SERVICE_ALL_ACCESS));
}

}  // namespace

void install_service(const std::wstring& module_path) {
    auto manager = open_manager();
    // Quoted: an unquoted path with a space lets a program earlier on that path run as the service.
    std::wstring command = L"\"" + module_path + L"\"";
    auto service = checked(CreateServiceW(manager.get(), service_name, display_name, SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                          command.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr));
    SERVICE_DESCRIPTIONW text{const_cast<wchar_t*>(description)};
    tools::check_win(ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &text));
}

void uninstall_service() {
    auto manager = open_manager();
    auto service = open_service(manager);
    tools::check_win(DeleteService(service.get()));
}

void start_service() {
    auto manager = open_manager();
    auto service = open_service(manager);
    tools::check_win(StartServiceW(service.get(), 0, nullptr));
}

void stop_service() {
    auto manager = open_manager();
    auto service = open_service(manager);
    SERVICE_STATUS status{};
    tools::check_win(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
}

}  // namespace server
