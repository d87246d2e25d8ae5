// The worker thread and the calls carried to it, from several threads, with failures on both sides.
#include <doctest.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include <shell/cross_thread_call.h>
#include <shell/thread_mailbox.h>
#include <shell/worker_references.h>
#include <shell/worker_thread.h>
#include <tools/com_initializer.h>
#include <tools/com_object.h>
#include <tools/com_error.h>
#include <tools/win_except.h>

using namespace shell;

namespace {

DWORD bound_object() {
    DWORD owner = unbound_thread_id;
    EnsureWorkerThread(owner);
    REQUIRE(owner == WorkerThreadId());
    REQUIRE(owner != 0);
    return owner;
}

template <class Body>
HRESULT forwarded_com_failure(DWORD owner, Body body) {
    try {
        ForwardToOwner(owner, body);
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

DWORD WINAPI end_at_once(void*) { return 0; }

LRESULT CALLBACK answering_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) return static_cast<LRESULT>(wparam * 6);
    return DefWindowProcW(window, message, wparam, lparam);
}

// Counts its references and notes the thread of each change.
class reference_witness final : public tools::com_object<IUnknown> {
public:
    STDMETHODIMP_(ULONG) AddRef() override {
        threads.push_back(GetCurrentThreadId());
        return com_object::AddRef();
    }
    STDMETHODIMP_(ULONG) Release() override {
        threads.push_back(GetCurrentThreadId());
        return com_object::Release();
    }
    std::vector<DWORD> threads;
};

}  // namespace

TEST_CASE("calls from several threads reach the worker one at a time and bring their results back") {
    const DWORD owner = bound_object();
    std::atomic<int> inside{0}, overlaps{0}, wrong_thread{0}, wrong_result{0};
    std::vector<std::thread> callers;
    for (int t = 1; t <= 6; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                int result = ForwardToOwner(owner, [&] {
                    if (++inside != 1) ++overlaps;
                    if (GetCurrentThreadId() != owner) ++wrong_thread;
                    Sleep(i % 3);
                    --inside;
                    return t * 1000 + i;
                });
                if (result != t * 1000 + i) ++wrong_result;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    CHECK(overlaps == 0);
    CHECK(wrong_thread == 0);
    CHECK(wrong_result == 0);
}

TEST_CASE("objects bound from several threads at once while the worker starts all get the one worker") {
    StartWorkerThread(false);
    std::vector<DWORD> owners(8, unbound_thread_id);
    std::vector<std::thread> binders;
    for (DWORD& owner : owners) binders.emplace_back([&owner] { EnsureWorkerThread(owner); });
    for (auto& binder : binders) binder.join();
    CHECK(WorkerThreadId() != 0);
    for (DWORD owner : owners) CHECK(owner == WorkerThreadId());
}

TEST_CASE("the worker runs its own calls directly and can call back into the thread that waits for it") {
    const DWORD owner = bound_object();
    const DWORD me = GetCurrentThreadId();
    auto seen = ForwardToOwner(owner, [&] {
        DWORD nested = ForwardToOwner(owner, [] { return GetCurrentThreadId(); });
        DWORD back = ForwardToOwner(me, [] { return GetCurrentThreadId(); });
        return std::pair<DWORD, DWORD>(nested, back);
    });
    CHECK(seen.first == owner);
    CHECK(seen.second == me);
    // Numbers other than call and answer that reach the worker are ignored.
    CHECK(SendThreadMessage(owner, 0x1234, 0));
    CHECK(ForwardToOwner(owner, [] { return 5; }) == 5);
}

TEST_CASE("failures cross to the caller by kind") {
    const DWORD owner = bound_object();
    std::string expected = tools::win_except(ERROR_ACCESS_DENIED).what();
    try {
        ForwardToOwner(owner, []() -> int { throw tools::win_except(ERROR_ACCESS_DENIED); });
        FAIL("nothing thrown");
    } catch (const std::runtime_error& e) {
        CHECK(std::string(e.what()) == expected);
    }
    CHECK(forwarded_com_failure(owner, [] { _com_issue_error(E_FAIL); }) == E_FAIL);
    CHECK(forwarded_com_failure(owner, [] { throw static_cast<long>(0x80030002); }) == static_cast<HRESULT>(0x80030002));
    CHECK(forwarded_com_failure(owner, [] { throw std::bad_alloc(); }) == E_OUTOFMEMORY);
    CHECK(forwarded_com_failure(owner, [] { throw 42; }) == E_UNEXPECTED);
    // The worker goes on serving after each of them.
    CHECK(ForwardToOwner(owner, [] { return 1; }) == 1);
    // An object never bound to the worker.
    try {
        ForwardToOwner(unbound_thread_id, [] { return 0; });
        FAIL("nothing thrown");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == ERROR_INVALID_THREAD_ID);
    }
}

TEST_CASE("a waiting caller serves the window messages the worker sends it") {
    const DWORD owner = bound_object();
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = answering_window;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"worker test window";
    RegisterClassW(&window_class);
    HWND window = CreateWindowW(L"worker test window", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    REQUIRE(window);
    // What a message box on the worker does to an owner window of this thread (EnableWindow sends to it).
    auto answer = ForwardToOwner(owner, [&] {
        DWORD_PTR result = 0;
        LRESULT sent = SendMessageTimeoutW(window, WM_APP, 7, 0, SMTO_BLOCK, 5000, &result);
        return std::pair<LRESULT, DWORD_PTR>(sent, result);
    });
    CHECK(answer.first != 0);
    CHECK(answer.second == 42);
    DestroyWindow(window);
}

TEST_CASE("every message sent by several threads is taken exactly once") {
    std::atomic<DWORD> receiver_id{0};
    std::map<std::pair<DWORD, ULONG_PTR>, int> taken;
    std::thread receiver([&] {
        MailboxOf(GetCurrentThreadId());
        receiver_id = GetCurrentThreadId();
        for (;;) {
            ThreadMessage message;
            if (!ReceiveThreadMessage(message) || message.number == answer_message) break;
            ++taken[{message.sender, message.argument}];
        }
    });
    while (!receiver_id) Sleep(1);
    std::vector<DWORD> sender_ids(4);
    std::atomic<int> undelivered{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < 4; ++s) {
        senders.emplace_back([&, s] {
            sender_ids[s] = GetCurrentThreadId();
            for (ULONG_PTR i = 0; i < 200; ++i)
                if (!SendThreadMessage(receiver_id, 0x100, i)) ++undelivered;
        });
    }
    for (auto& sender : senders) sender.join();
    CHECK(SendThreadMessage(receiver_id, answer_message, 0));
    receiver.join();
    CHECK(undelivered == 0);
    CHECK(taken.size() == 800);
    for (const auto& entry : taken) CHECK(entry.second == 1);
}

TEST_CASE("an ended thread takes no message, and a worker that ends mid-call leaves no caller waiting") {
    // A thread that has ended: its id is still open while we hold its handle, and gone once we close it.
    HANDLE ended = CreateThread(nullptr, 0, end_at_once, nullptr, 0, nullptr);
    REQUIRE(ended);
    const DWORD ended_id = GetThreadId(ended);
    WaitForSingleObject(ended, INFINITE);
    DWORD start = GetTickCount();
    CHECK_FALSE(SendThreadMessage(ended_id, 0x100, 1));
    CloseHandle(ended);
    CHECK_FALSE(SendThreadMessage(ended_id, 0x100, 1));
    CHECK(GetTickCount() - start < 500);

    DWORD owner = bound_object();
    try {
        ForwardToOwner(owner, []() -> int { ExitThread(0); });
        FAIL("nothing thrown");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == ERROR_INVALID_THREAD_ID);
    }
    // Calls to it fail at once, and the next binding starts a new worker.
    try {
        ForwardToOwner(owner, [] { return 0; });
        FAIL("nothing thrown");
    } catch (const tools::win_except& e) {
        CHECK(e.code() == ERROR_INVALID_THREAD_ID);
    }
    DWORD next = bound_object();
    CHECK(next != owner);
    CHECK(ForwardToOwner(next, [] { return 3; }) == 3);
}

TEST_CASE("stopping a busy worker ends it within about a second, and its caller gets an error") {
    const DWORD owner = bound_object();
    std::atomic<bool> busy{false};
    std::atomic<DWORD> error{0};
    std::thread caller([&] {
        try {
            ForwardToOwner(owner, [&] {
                busy = true;
                Sleep(20000);
            });
        } catch (const tools::win_except& e) {
            error = e.code();
        }
    });
    while (!busy) Sleep(1);
    DWORD start = GetTickCount();
    StartWorkerThread(false);
    DWORD took = GetTickCount() - start;
    caller.join();
    CHECK(took >= 900);
    CHECK(took < 2500);
    CHECK(WorkerThreadId() == 0);
    CHECK(error == ERROR_INVALID_THREAD_ID);
    // Stopping on a condition: only while it holds.
    bound_object();
    CHECK_FALSE(StopWorkerThreadIf([] { return false; }));
    CHECK(WorkerThreadId() != 0);
    // An idle worker stops at once.
    start = GetTickCount();
    StartWorkerThread(false);
    CHECK(GetTickCount() - start < 500);
    CHECK(WorkerThreadId() == 0);
}

TEST_CASE("references of the worker's objects change on the worker; its interfaces reach other threads as proxies") {
    tools::com_initializer com;
    const DWORD owner = bound_object();
    reference_witness witness;
    AddRefOnWorker(&witness);
    ReleaseOnWorker(&witness);
    AddRefOnWorker(nullptr);
    CHECK(witness.threads == std::vector<DWORD>{owner, owner});

    // A stream made on the worker, written there and read here through its proxy.
    IStream* on_worker = ForwardToOwner(owner, [] {
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) throw std::runtime_error("no stream");
        ULONG written = 0;
        stream->Write("worker", 6, &written);
        return stream;
    });
    auto here = MarshalForCaller(on_worker);
    REQUIRE(here);
    CHECK(here.get() != on_worker);
    LARGE_INTEGER start{};
    char text[6] = {};
    ULONG read = 0;
    CHECK(here->Seek(start, STREAM_SEEK_SET, nullptr) == S_OK);
    CHECK(here->Read(text, 6, &read) == S_OK);
    CHECK(std::string(text, read) == "worker");
    bool same_on_worker = ForwardToOwner(owner, [&] { return MarshalForCaller(on_worker).get() == on_worker; });
    CHECK(same_on_worker);
    // An interface the object does not have cannot be marshalled, and nothing is left behind.
    CHECK(forwarded_com_failure(GetCurrentThreadId(), [&] { MarshalForCaller(IID_IDispatch, on_worker); }) ==
          E_NOINTERFACE);
    here.reset();
    ReleaseOnWorker(on_worker);
}
