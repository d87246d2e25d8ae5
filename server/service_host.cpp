#include "service_host.h"

#include <objbase.h>

#include <atomic>

#include <tools/com_error.h>
#include <tools/com_initializer.h>
#include <tools/global_mutex.h>
#include <tools/hresult.h>

#include "file_watcher.h"
#include "server_identity.h"

namespace server {

namespace {

ServedClassMaker the_maker = nullptr;
SERVICE_STATUS_HANDLE status_handle = nullptr;
std::atomic<DWORD> last_state{SERVICE_STOPPED};
std::atomic<DWORD> service_thread{0};

// How the body ended, as the control manager records it: both zero for a clean stop.
struct service_exit {
    DWORD win32 = NO_ERROR;
    DWORD specific = 0;
};

// A system error code travels as itself; any other failure as the service's own code.
service_exit exit_for(HRESULT failure) noexcept {
    if (SUCCEEDED(failure)) return {};
    if (HRESULT_FACILITY(failure) == FACILITY_WIN32) return {static_cast<DWORD>(HRESULT_CODE(failure)), 0};
    return {ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(failure)};
}

bool report_status(DWORD state, DWORD wait_hint, service_exit exit = {}) noexcept {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    // Pause and continue are not served: the manager must not offer them.
    status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWin32ExitCode = exit.win32;
    status.dwServiceSpecificExitCode = exit.specific;
    status.dwWaitHint = wait_hint;
    last_state = state;
    return SetServiceStatus(status_handle, &status) != FALSE;
}

// Runs on the control manager's thread: it only reports and asks the service thread to quit.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, void*, void*) noexcept {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report_status(SERVICE_STOP_PENDING, 0);
        if (DWORD thread = service_thread) PostThreadMessageW(thread, WM_QUIT, 0, 0);
        return NO_ERROR;
    }
    if (control == SERVICE_CONTROL_INTERROGATE) {
        report_status(last_state, 0);
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

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

// Registers the class object, serves until asked to stop, and tears everything down in order. A class
// object that cannot be registered serves nobody: that is thrown, so the service reports it.
void serve(CServedClass& served) {
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_StorageServer, served.class_object(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) _com_issue_error(hr);
    if (report_status(SERVICE_RUNNING, 0)) run_message_loop();
    CoDisconnectObject(served.class_object(), 0);
    CoRevokeClassObject(cookie);
}

// The service body. Its failure, if any, is what the service reports when it stops.
HRESULT RunServer() noexcept {
    HRESULT failure = S_OK;
    try {
        // Held for the body's whole life: it marks the server as present.
        auto mutex = tools::create_global_mutex();
        {
            tools::com_initializer com;
            com.check();
            try {
                std::unique_ptr<CServedClass> served = the_maker ? the_maker() : nullptr;
                if (!served) _com_issue_error(E_UNEXPECTED);
                try {
                    serve(*served);
                } catch (...) {
                    failure = tools::current_exception_hresult();
                }
                // Whatever became of serving, what the class holds is closed in order.
                served->teardown();
            } catch (...) {
                if (SUCCEEDED(failure)) failure = tools::current_exception_hresult();
            }
            StopStorageFileWatchers();
        }
    } catch (...) {
        // The mutex could not be made, or COM not joined: the service ends at once.
        if (SUCCEEDED(failure)) failure = tools::current_exception_hresult();
    }
    return failure;
}

void WINAPI ServiceMain(DWORD, wchar_t**) noexcept {
    service_exit exit;
    try {
        status_handle = RegisterServiceCtrlHandlerExW(service_name, ServiceCtrlHandler, nullptr);
        if (!status_handle) return;
        // The thread's message queue must exist before anyone may post WM_QUIT to it.
        MSG message;
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        if (!report_status(SERVICE_START_PENDING, 3000)) return;
        service_thread = GetCurrentThreadId();
        exit = exit_for(RunServer());
        service_thread = 0;
    } catch (...) {
        exit = exit_for(E_UNEXPECTED);
    }
    report_status(SERVICE_STOPPED, 0, exit);
}

}  // namespace

int run_service_dispatcher(ServedClassMaker make) {
    the_maker = make;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(service_name), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

}  // namespace server
