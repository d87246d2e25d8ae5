// orriserver.exe's command line against the real service control manager and registry of the prefix.
#include <doctest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "service_fixture.h"

using namespace service_testing;

namespace {

const std::string usage =
    "Orrisafe 3.0 RPC Server\n"
    "\n"
    "Usage:\n"
    "\n"
    "orriserver.exe [/{i|u|r|s} | /?]\n"
    "\n"
    "\t/i - install service\n"
    "\t/u - uninstall service\n"
    "\t/r - run service\n"
    "\t/s - stop service\n";

const wchar_t clsid_key[] = L"CLSID\\{30000000-9A79-48F0-A26B-FDA05AE1AD1C}";
const wchar_t appid_key[] = L"AppID\\{30000000-9A79-48F0-A26B-FDA05AE1AD1C}";
const wchar_t exe_appid_key[] = L"AppID\\orriserver.exe";
const wchar_t progid_key[] = L"Orrisafe.3.0";

std::wstring string_value(const std::wstring& key, const wchar_t* name) {
    wchar_t data[512] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, &type, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

std::vector<unsigned char> binary_value(const std::wstring& key, const wchar_t* name) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_BINARY, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<unsigned char> data(size);
    RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_BINARY, nullptr, data.data(), &size);
    return data;
}

// The descriptor as the system converts it, independently of the program.
std::vector<unsigned char> descriptor_bytes(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    ULONG size = 0;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, &size));
    std::vector<unsigned char> bytes(static_cast<unsigned char*>(raw), static_cast<unsigned char*>(raw) + size);
    LocalFree(raw);
    return bytes;
}

struct service_config {
    std::wstring binary_path, display_name, account, dependencies, description;
    DWORD type = 0, start = 0, error_control = 0;
};

service_config query_config() {
    service_config config;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    REQUIRE(manager);
    SC_HANDLE service = OpenServiceW(manager, L"orriserver", SERVICE_QUERY_CONFIG);
    REQUIRE(service);
    std::vector<unsigned char> buffer(8192);
    DWORD needed = 0;
    REQUIRE(QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed));
    auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    config.binary_path = q->lpBinaryPathName ? q->lpBinaryPathName : L"";
    config.display_name = q->lpDisplayName ? q->lpDisplayName : L"";
    config.account = q->lpServiceStartName ? q->lpServiceStartName : L"";
    // Wine's query leaves the dependencies out; the control manager keeps them in the service's key.
    wchar_t depends[256] = {};
    DWORD depends_size = sizeof(depends) - 2 * sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\orriserver", L"DependOnService",
                     RRF_RT_REG_MULTI_SZ, nullptr, depends, &depends_size) == ERROR_SUCCESS)
        for (const wchar_t* d = depends; *d; d += wcslen(d) + 1) config.dependencies += std::wstring(d) + L";";
    config.type = q->dwServiceType;
    config.start = q->dwStartType;
    config.error_control = q->dwErrorControl;
    std::vector<unsigned char> text(8192);
    if (QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, text.data(), static_cast<DWORD>(text.size()), &needed)) {
        auto* d = reinterpret_cast<SERVICE_DESCRIPTIONW*>(text.data());
        if (d->lpDescription) config.description = d->lpDescription;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return config;
}

}  // namespace

TEST_CASE("bad command lines print the error line and the usage text, exit 1 and install nothing") {
    installed_service_guard guard;
    const wchar_t* bad[] = {L"/x", L"/?", L"/i extra", L"/s /s", L"i", L"/install", L"\"\""};
    for (const wchar_t* arguments : bad) {
        CAPTURE(std::string(arguments, arguments + wcslen(arguments)));
        std::string output;
        CHECK(run_server(arguments, &output) == 1);
        CHECK(output == "Error: invalid command line arguments\n" + usage);
    }
    CHECK(service_state() == 0);
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, clsid_key));
}

TEST_CASE("without arguments, outside the service control manager, the program prints nothing and exits 1") {
    std::string output;
    CHECK(run_server(L"", &output) == 1);
    CHECK(output.empty());
}

TEST_CASE("install, install again, start, stop, and uninstall through the command line") {
    installed_service_guard guard;
    REQUIRE(service_state() == 0);
    std::string output;

    // Letter case does not matter.
    REQUIRE(run_server(L"/I", &output) == 0);
    CHECK(output == "Ok\n");

    {
        service_config config = query_config();
        CHECK(config.binary_path == L"\"" + server_path() + L"\"");
        CHECK(config.display_name == L"Orrisafe Server");
        CHECK(config.type == SERVICE_WIN32_OWN_PROCESS);
        CHECK(config.start == SERVICE_DEMAND_START);
        CHECK(config.error_control == SERVICE_ERROR_NORMAL);
        CHECK(config.dependencies == L"RPCSS;");
        CHECK(config.account == L"LocalSystem");
        CHECK(config.description ==
              L"Provides the set of basic operations on Orrisafe storages. If this service is stopped, any attempt "
              L"to access to Orrisafe storage will fail.");

        CHECK(string_value(clsid_key, nullptr) == L"Orrisafe Service");
        CHECK(string_value(clsid_key, L"AppID") == L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}");
        CHECK(string_value(std::wstring(clsid_key) + L"\\ProgID", nullptr) == L"Orrisafe.3.0");
        CHECK(string_value(std::wstring(clsid_key) + L"\\TypeLib", nullptr) == L"{3B77F7C5-B1BF-479F-A138-6FE19AD0EBB8}");
        CHECK(registry_key_exists(HKEY_CLASSES_ROOT, std::wstring(clsid_key) + L"\\Programmable"));
        CHECK(string_value(appid_key, nullptr) == L"Orrisafe Service");
        CHECK(string_value(appid_key, L"LocalService") == L"orriserver");
        CHECK(binary_value(appid_key, L"AccessPermission") ==
              descriptor_bytes(L"O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDCLC;;;BA)(A;;CCDC;;;WD)"));
        CHECK(binary_value(appid_key, L"LaunchPermission") ==
              descriptor_bytes(L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCSW;;;IU)"));
        CHECK(string_value(exe_appid_key, L"AppID") == L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}");
        CHECK(string_value(progid_key, nullptr) == L"Orrisafe Service");
        CHECK(string_value(std::wstring(progid_key) + L"\\CLSID", nullptr) == L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}");
    }

    // A second install fails on the existing service.
    CHECK(run_server(L"/i", &output) == 1);
    CHECK(output == error_line(ERROR_SERVICE_EXISTS));

    // Stopping a stopped service fails with the system's text.
    CHECK(run_server(L"/s", &output) == 1);
    CHECK(output == error_line(ERROR_SERVICE_NOT_ACTIVE));

    REQUIRE(run_server(L"/r", &output) == 0);
    CHECK(output == "Ok\n");
    CHECK(wait_for_service_state(SERVICE_RUNNING) == SERVICE_RUNNING);
    // Stop and shutdown are the only controls it serves: a pause is refused and changes nothing.
    CHECK(service_status().dwControlsAccepted == (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    CHECK_FALSE(control_service(SERVICE_CONTROL_PAUSE));
    CHECK(service_state() == SERVICE_RUNNING);
    CHECK(run_server(L"/R", &output) == 1);
    CHECK(output == error_line(ERROR_SERVICE_ALREADY_RUNNING));

    REQUIRE(run_server(L"/s", &output) == 0);
    CHECK(output == "Ok\n");
    CHECK(wait_for_service_state(SERVICE_STOPPED) == SERVICE_STOPPED);

    REQUIRE(run_server(L"/u", &output) == 0);
    CHECK(output == "Ok\n");
    CHECK(service_state() == 0);
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, clsid_key));
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, appid_key));
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, exe_appid_key));
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, progid_key));
    CHECK(registry_key_exists(HKEY_CLASSES_ROOT, L"AppID"));
    CHECK(registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID"));

    // Nothing left to remove.
    CHECK(run_server(L"/u", &output) == 1);
    CHECK(output == error_line(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_CASE("a service that cannot register its class object stops with the failure, not as a clean stop") {
    const wchar_t name[] = L"orriserver-unservable";
    wchar_t self[MAX_PATH];
    REQUIRE(GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring binary = self;
    binary = L"\"" + binary.substr(0, binary.find_last_of(L'\\') + 1) + L"unservable_service.exe\"";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    REQUIRE(manager);
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    REQUIRE(service);
    CHECK(StartServiceW(service, 0, nullptr));
    DWORD start = GetTickCount();
    SERVICE_STATUS status = service_status(name);
    while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount() - start < 15000) {
        Sleep(50);
        status = service_status(name);
    }
    CHECK(status.dwCurrentState == SERVICE_STOPPED);
    // The registration's E_INVALIDARG is a system error code in HRESULT form: the manager gets the code itself.
    CHECK(status.dwWin32ExitCode == ERROR_INVALID_PARAMETER);
    CHECK(status.dwServiceSpecificExitCode == 0);
    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}
