// The shell extension's module lock count: how many of its objects, class factories and LockServer(TRUE)
// calls are alive. Explorer unloads the DLL when DllCanUnloadNow finds it at zero, so every object the DLL
// hands out holds the lock for as long as it lives.
#pragma once
#include <windows.h>

namespace shell {

void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// A member that holds the module lock for its owner's lifetime. A copied owner is a new object: its copy
// takes a lock of its own.
class CModuleLock {
public:
    CModuleLock() noexcept { LockModule(); }
    CModuleLock(const CModuleLock&) noexcept { LockModule(); }
    CModuleLock& operator=(const CModuleLock&) noexcept { return *this; }
    ~CModuleLock() { UnlockModule(); }
};

}  // namespace shell
