// orriserver: installs, removes, starts and stops its own Windows service, and is that service when the
// service control manager starts it without arguments.
#include <windows.h>

#include <cstdio>
#include <exception>

#include <tools/paths.h>

#include "server_command.h"
#include "server_registration.h"
#include "service_host.h"
#include "service_installation.h"
#include "storage_server_class.h"

namespace {

int run_command(server::server_command command) {
    using server::server_command;
    switch (command) {
    case server_command::run_service:
        return server::run_service_dispatcher(server::make_storage_server_class);
    case server_command::install: {
        std::wstring module = tools::module_file_path(nullptr);
        server::RegisterServer(module, true);
        server::install_service(module);
        break;
    }
    case server_command::uninstall:
        server::RegisterServer(tools::module_file_path(nullptr), false);
        server::uninstall_service();
        break;
    case server_command::start:
        server::start_service();
        break;
    case server_command::stop:
        server::stop_service();
        break;
    case server_command::invalid:
        server::ReportBadArguments();
        return 1;
    }
    fputs("Ok\n", stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return run_command(server::parse_command_line(argc, argv));
    } catch (const std::exception& e) {
        printf("Error : %s\n", e.what());
    } catch (...) {
        fputs("Error : <undefined>\n", stdout);
    }
    fflush(stdout);
    return 1;
}
