#include "message_serving_wait.h"

#include <tools/win_except.h>

namespace shell {

DWORD WaitServingMessages(const HANDLE* handles, DWORD count, DWORD timeout_ms, serve what) {
    const DWORD start = GetTickCount();
    const DWORD mask = what == serve::all_messages ? QS_ALLINPUT : QS_SENDMESSAGE;
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout_ms != INFINITE) {
            DWORD elapsed = GetTickCount() - start;
            remaining = elapsed >= timeout_ms ? 0 : timeout_ms - elapsed;
        }
        DWORD result = MsgWaitForMultipleObjectsEx(count, handles, remaining, mask, MWMO_INPUTAVAILABLE);
        if (result == WAIT_FAILED) tools::throw_last_error();
        if (result != WAIT_OBJECT_0 + count) return result;
        MSG message;
        if (what == serve::sent_messages) {
            // Peeking with this filter delivers the sent messages and leaves the queue as it was.
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            // The worker ends through its mailbox; a stray quit message must not end anything.
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

CServingLock::CServingLock() : mutex_(CreateMutexW(nullptr, FALSE, nullptr)) {
    if (!mutex_) tools::throw_last_error();
}

void CServingLock::Lock() {
    HANDLE mutex = mutex_.get();
    // An owner that ended while holding the lock hands it over abandoned: the lock is ours all the same.
    WaitServingMessages(&mutex, 1, INFINITE);
}

void CServingLock::Unlock() noexcept { ReleaseMutex(mutex_.get()); }

}  // namespace shell
