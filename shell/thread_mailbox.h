// The private message channel between the shell's threads: one mailbox per thread, built from two events.
// Delivery is synchronous: a sender returns once the receiver has taken its message.
#pragma once
#include <windows.h>
#include <memory>
#include <tools/auto_handle.h>
#include "message_serving_wait.h"

namespace shell {

// To a waiting caller: its request is done. To the worker: leave the loop and end.
inline constexpr DWORD answer_message = 0x7FF0;
// Run the call request whose address is the argument, then answer the sender.
inline constexpr DWORD call_message = 0x7FF1;

struct ThreadMessage {
    DWORD sender = 0;
    DWORD number = 0;
    DWORD reserved = 0;
    ULONG_PTR argument = 0;
};

class CThreadMailbox {
public:
    CThreadMailbox();
    CThreadMailbox(const CThreadMailbox&) = delete;
    CThreadMailbox& operator=(const CThreadMailbox&) = delete;

    ThreadMessage message;
    tools::auto_kernel_handle message_event;
    tools::auto_kernel_handle acknowledgement_event;
    // Serialises the senders to this thread; held while one message is delivered.
    CServingLock senders;
};

// The mailbox of a thread id, made on first use and kept while the module is loaded.
CThreadMailbox& MailboxOf(DWORD thread_id);

// Delivers a message from the calling thread; false when the target has ended.
bool SendThreadMessage(DWORD target, DWORD number, ULONG_PTR argument, DWORD timeout_ms = INFINITE);

// Signals the message once and waits until the target takes it, the target ends or the time runs out
// (false for the last two; the signal is then withdrawn, so a later receiver never takes it).
bool PostToThread(DWORD target, const ThreadMessage& message, DWORD timeout_ms = INFINITE);

// Waits for the calling thread's next message. False, with nothing taken, when `peer` (a thread handle, may be
// null) ends first. A failed wait throws tools::win_except.
bool ReceiveThreadMessage(ThreadMessage& out, HANDLE peer = nullptr, serve what = serve::sent_messages);

}  // namespace shell
