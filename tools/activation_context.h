// A module's own manifest made the active activation context for a scope: how a DLL gets the common controls of
// version 6 (list groups, themes) inside a program that asked for none.
#pragma once
#include <windows.h>

namespace tools {

class activation_scope {
public:
    // The manifest resource of the module (ISOLATIONAWARE_MANIFEST_RESOURCE_ID, 2, for a DLL). A module without
    // one, or a system that refuses it, leaves the caller's context active: the scope then does nothing.
    explicit activation_scope(HMODULE module, WORD manifest_id = 2);
    ~activation_scope();
    activation_scope(const activation_scope&) = delete;
    activation_scope& operator=(const activation_scope&) = delete;

    bool active() const { return cookie_ != 0; }

private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

}  // namespace tools
