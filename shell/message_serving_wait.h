// Waits of the shell's threads. Explorer's threads and ours send each other window messages (a message box
// disables its owner window with a message sent to the owner's thread), so a thread that waits keeps serving
// the messages sent to it; one that did not would hang both threads.
#pragma once
#include <windows.h>
#include <tools/auto_handle.h>

namespace shell {

enum class serve {
    sent_messages,  // a thread of someone else's (Explorer's): its posted messages stay for its own loop
    all_messages,   // the worker: its apartment has no other message loop
};

// Waits until one of the handles is signalled or the time runs out, serving messages meanwhile. Returns what
// WaitForMultipleObjects would (WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i, WAIT_TIMEOUT); a failed wait throws
// tools::win_except.
DWORD WaitServingMessages(const HANDLE* handles, DWORD count, DWORD timeout_ms, serve what = serve::sent_messages);

// A lock held across waits for other threads. Waiting for it serves sent messages; its owner thread may take it
// again.
class CServingLock {
public:
    CServingLock();
    CServingLock(const CServingLock&) = delete;
    CServingLock& operator=(const CServingLock&) = delete;
    void Lock();
    void Unlock() noexcept;

private:
    tools::auto_kernel_handle mutex_;
};

class CServingLockGuard {
public:
    explicit CServingLockGuard(CServingLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CServingLockGuard() { lock_.Unlock(); }
    CServingLockGuard(const CServingLockGuard&) = delete;
    CServingLockGuard& operator=(const CServingLockGuard&) = delete;

private:
    CServingLock& lock_;
};

}  // namespace shell
