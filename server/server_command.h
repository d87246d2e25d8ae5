// The server program's command line: what it asks for, and the texts the program answers with.
#pragma once
#include <windows.h>

namespace server {

enum class server_command { run_service, install, uninstall, start, stop, invalid };

// No argument runs the service; exactly one of "/i", "/u", "/r", "/s" (any letter case) names a command.
server_command parse_command_line(int argc, const wchar_t* const* argv) noexcept;

// The usage text, on standard output.
void PrintUsage();
// The error line and the usage text, on standard output.
void ReportBadArguments();

}  // namespace server
