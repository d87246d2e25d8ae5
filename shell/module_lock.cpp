#include "module_lock.h"

namespace shell {

namespace {
volatile LONG lock_count = 0;
}

void LockModule() noexcept { InterlockedIncrement(&lock_count); }

void UnlockModule() noexcept { InterlockedDecrement(&lock_count); }

LONG ModuleLockCount() noexcept { return InterlockedCompareExchange(&lock_count, 0, 0); }

}  // namespace shell
