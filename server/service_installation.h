// Installing, removing, starting and stopping the server's Windows service. Every failure of the
// service control manager throws tools::win_except.
#pragma once
#include <string>

namespace server {

// Creates the service for the program at module_path, demand-started, and gives it its description.
void install_service(const std::wstring& module_path);
void uninstall_service();
void start_service();
// Asks the running service to stop; does not wait for it.
void stop_service();

}  // namespace server
