#include "server_command.h"

#include <cstdio>
#include <cwchar>

namespace server {

namespace {

const wchar_t usage_text[] =
    L"Orrisafe 3.0 RPC Server\n"
    L"\n"
    L"Usage:\n"
    L"\n"
    L"orriserver.exe [/{i|u|r|s} | /?]\n"
    L"\n"
    L"\t/i - install service\n"
    L"\t/u - uninstall service\n"
    L"\t/r - run service\n"
    L"\t/s - stop service\n";

}  // namespace

server_command parse_command_line(int argc, const wchar_t* const* argv) noexcept {
    if (argc <= 1) return server_command::run_service;
    if (argc > 2 || !argv[1]) return server_command::invalid;
    const wchar_t* argument = argv[1];
    if (_wcsicmp(argument, L"/i") == 0) return server_command::install;
    if (_wcsicmp(argument, L"/u") == 0) return server_command::uninstall;
    if (_wcsicmp(argument, L"/r") == 0) return server_command::start;
    if (_wcsicmp(argument, L"/s") == 0) return server_command::stop;
    return server_command::invalid;
}

void PrintUsage() {
    fputws(usage_text, stdout);
    fflush(stdout);
}

void ReportBadArguments() {
    fputs("Error: invalid command line arguments\n", stdout);
    PrintUsage();
}

}  // namespace server
