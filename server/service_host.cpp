#include "service_host.h"

#include <objbase.h>

#include <atomic>

#include <tools/global_mutex.h>

#include "file_watcher.h"
#include "server_identity.h"

namespace server {

namespace {

ServedClassMaker the_maker = nullptr;
SERVICE_STATUS_HANDLE status_handle = nullptr;
std::atomic<DWORD> last_state{SERVICE_STOPPED};
std::atomic<DWORD> service_thread{0};

bool report_status(DWORD state, DWORD wait_hint) noexcept {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWaitHint = wait_hint;
    last_state = state;
    return SetServiceStatus(status_handle, &status) != FALSE;
}

// Runs on the control manager's thread: it only reports and asks the service thread to quit.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, void*, void*) noexcept {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report_status(SERVICE_STOP_PENDING, 0);
        if (DWORD thread = service_thread) PostThreadMessageW(thread, WM_QUIT, 0, 0);
    } else {
        report_status(last_state, 0);
    }
    return NO_ERROR;
}

class com_apartment {
public:
    com_apartment() : result_(CoInitialize(nullptr)) {}
    ~com_apartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    bool ok() const noexcept { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};

// Every COM call of every client arrives through this loop, one at a time, until WM_QUIT.
void run_message_loop() noexcept {
    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        try {
            DispatchMessageW(&message);
        } catch (...) {
            return;  // the service ends in order rather than with the process
        }
    }
}

// Registers the class object, serves until asked to stop, and tears everything down in order.
void serve(CServedClass& served) {
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_StorageServer, served.class_object(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) return;
    if (report_status(SERVICE_RUNNING, 0)) run_message_loop();
    CoDisconnectObject(served.class_object(), 0);
    CoRevokeClassObject(cookie);
}

void RunServer() noexcept {
    try {
        // Held for the body's whole life: it marks the server as present.
        auto mutex = tools::create_global_mutex();
        {
            com_apartment apartment;
            if (!apartment.ok()) return;
            try {
                std::unique_ptr<CServedClass> served = the_maker ? the_maker() : nullptr;
                if (served) {
                    serve(*served);
                    served->teardown();
                }
            } catch (...) {
                // A failed start or teardown still ends the service in order.
            }
            StopStorageFileWatchers();
        }
    } catch (...) {
        // The mutex could not be made: the service ends at once.
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**) noexcept {
    try {
        status_handle = RegisterServiceCtrlHandlerExW(service_name, ServiceCtrlHandler, nullptr);
        if (!status_handle) return;
        // The thread's message queue must exist before anyone may post WM_QUIT to it.
        MSG message;
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        if (!report_status(SERVICE_START_PENDING, 3000)) return;
        service_thread = GetCurrentThreadId();
        RunServer();
        service_thread = 0;
        report_status(SERVICE_STOPPED, 0);
    } catch (...) {
        report_status(SERVICE_STOPPED, 0);
    }
}

}  // namespace

int run_service_dispatcher(ServedClassMaker make) {
    the_maker = make;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(service_name), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

}  // namespace server
