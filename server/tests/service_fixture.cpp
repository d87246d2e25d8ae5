#include "service_fixture.h"

#include <tools/tests/test_support.h>
#include <tools/text.h>
#include <tools/win_except.h>

namespace service_testing {

std::wstring dist_file(const std::wstring& name) {
    std::wstring dir = testing::env(L"ORRI_DIST_DIR");
    if (!dir.empty() && dir[0] == L'/') {
        // Wine maps the host's root folder as drive Z:.
        for (auto& c : dir)
            if (c == L'/') c = L'\\';
        dir = L"Z:" + dir;
    }
    return dir + L"\\" + name;
}

std::wstring server_path() { return dist_file(L"orriserver.exe"); }

DWORD run_server(const std::wstring& arguments, std::string* output) {
    std::string raw;
    std::wstring command = L"\"" + server_path() + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    DWORD code = testing::run_process(command, &raw);
    if (output) {
        output->clear();
        for (char c : raw)
            if (c != '\r') output->push_back(c);
    }
    return code;
}

SERVICE_STATUS service_status(const wchar_t* name) {
    SERVICE_STATUS status{};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return status;
    if (SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS)) {
        if (!QueryServiceStatus(service, &status)) status = SERVICE_STATUS{};
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return status;
}

DWORD service_state() { return service_status().dwCurrentState; }

bool control_service(DWORD control, const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    bool done = false;
    DWORD error = ERROR_SERVICE_DOES_NOT_EXIST;
    if (SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS)) {
        SERVICE_STATUS status{};
        done = ControlService(service, control, &status) != FALSE;
        error = GetLastError();
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    if (!done) SetLastError(error);
    return done;
}

DWORD wait_for_service_state(DWORD state, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    DWORD now = service_state();
    while (now != state && GetTickCount() - start < timeout_ms) {
        Sleep(50);
        now = service_state();
    }
    return now;
}

DWORD service_process_id() {
    DWORD id = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    if (SC_HANDLE service = OpenServiceW(manager, L"orriserver", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
            id = status.dwProcessId;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return id;
}

void end_service_process() {
    if (DWORD id = service_process_id()) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

bool registry_key_exists(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string error_line(DWORD code) {
    std::string text = "Error : " + tools::to_narrow(tools::format_win_error(code)) + "\n";
    std::string plain;
    for (char c : text)
        if (c != '\r') plain.push_back(c);
    return plain;
}

installed_service_guard::~installed_service_guard() {
    DWORD state = service_state();
    bool registered = registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID\\{30000000-9A79-48F0-A26B-FDA05AE1AD1C}");
    if (state == 0 && !registered) return;
    if (state != 0 && state != SERVICE_STOPPED) {
        run_server(L"/s");
        wait_for_service_state(SERVICE_STOPPED);
    }
    run_server(L"/u");
}

registered_type_library::registered_type_library() {
    std::string output;
    result_ = testing::run_process(L"\"" + dist_file(L"orritypes.exe") + L"\" -i orrisafe.tlb", &output);
}

registered_type_library::~registered_type_library() {
    testing::run_process(L"\"" + dist_file(L"orritypes.exe") + L"\" -u orrisafe.tlb");
}

installed_server::installed_server() : installed_(run_server(L"/i")) {}

}  // namespace service_testing
