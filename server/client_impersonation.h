// Runs a block as the COM client whose call the server is serving, so that the service (LocalSystem)
// never opens a file the caller could not open itself.
#pragma once
#include <windows.h>

namespace server {

class client_impersonation {
public:
    // Impersonates the caller; a failure throws _com_error. A call made from inside this process, where
    // there is no client to impersonate, runs as the process.
    client_impersonation();
    ~client_impersonation();
    client_impersonation(const client_impersonation&) = delete;
    client_impersonation& operator=(const client_impersonation&) = delete;

    bool impersonating() const noexcept { return impersonating_; }

private:
    bool impersonating_ = false;
};

}  // namespace server
