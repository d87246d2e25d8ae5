#include "thread_mailbox.h"

#include <map>
#include <tools/critical_section.h>
#include <tools/win_except.h>

namespace shell {

namespace {

tools::auto_kernel_handle new_auto_reset_event() {
    tools::auto_kernel_handle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) tools::throw_last_error();
    return event;
}

struct mailbox_table {
    tools::critical_section lock;
    std::map<DWORD, std::unique_ptr<CThreadMailbox>> boxes;
};

mailbox_table& mailboxes() {
    static mailbox_table table;
    return table;
}

}  // namespace

CThreadMailbox::CThreadMailbox()
    : message_event(new_auto_reset_event()), acknowledgement_event(new_auto_reset_event()) {}

CThreadMailbox& MailboxOf(DWORD thread_id) {
    mailbox_table& table = mailboxes();
    tools::scoped_lock lock(table.lock);
    std::unique_ptr<CThreadMailbox>& box = table.boxes[thread_id];
    if (!box) box = std::make_unique<CThreadMailbox>();
    return *box;
}

bool SendThreadMessage(DWORD target, DWORD number, ULONG_PTR argument, DWORD timeout_ms) {
    return PostToThread(target, ThreadMessage{GetCurrentThreadId(), number, 0, argument}, timeout_ms);
}

bool PostToThread(DWORD target, const ThreadMessage& message, DWORD timeout_ms) {
    // Nobody would take it: the only thread that could is the one waiting.
    if (target == GetCurrentThreadId()) return false;
    tools::auto_kernel_handle thread(OpenThread(SYNCHRONIZE, FALSE, target));
    if (!thread) {
        // A thread that ended and whose id went back to the system can no longer be opened.
        if (GetLastError() == ERROR_INVALID_PARAMETER) return false;
        tools::throw_last_error();
    }
    if (WaitForSingleObject(thread.get(), 0) != WAIT_TIMEOUT) return false;

    CThreadMailbox& box = MailboxOf(target);
    CServingLockGuard senders(box.senders);
    // An acknowledgement left over from an exchange given up earlier must not answer this one.
    ResetEvent(box.acknowledgement_event.get());
    box.message = message;
    SetEvent(box.message_event.get());
    HANDLE waits[2] = {box.acknowledgement_event.get(), thread.get()};
    if (WaitServingMessages(waits, 2, timeout_ms) == WAIT_OBJECT_0) return true;
    // Given up: withdraw the signal, unless the receiver took the message in the meantime.
    ResetEvent(box.message_event.get());
    return WaitForSingleObject(box.acknowledgement_event.get(), 0) == WAIT_OBJECT_0;
}

bool ReceiveThreadMessage(ThreadMessage& out, HANDLE peer, serve what) {
    CThreadMailbox& box = MailboxOf(GetCurrentThreadId());
    HANDLE waits[2] = {box.message_event.get(), peer};
    DWORD result = WaitServingMessages(waits, peer ? 2 : 1, INFINITE, what);
    if (result != WAIT_OBJECT_0) return false;
    out = box.message;
    SetEvent(box.acknowledgement_event.get());
    return true;
}

}  // namespace shell
