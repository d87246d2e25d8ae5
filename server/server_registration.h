// The server's COM registration (class, ProgID, AppID naming the service, type library), applied by
// the system registrar from the program's "REGISTRY" script. Failures throw _com_error.
#pragma once
#include <string>

namespace server {

// The script's resource id inside the program.
inline constexpr unsigned registration_script_id = 102;

void RegisterServer(const std::wstring& module_path, bool do_register);

}  // namespace server
