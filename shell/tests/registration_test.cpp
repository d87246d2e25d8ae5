// regsvr32 and regsvr32 /u on orrishell.dll, read back from the prefix's registry; and the ProgID that the
// shell's file type shares with the service's registration, installed and removed in either order.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <shell/class_table.h>
#include <shell/shell_registration.h>
#include <tools/com_initializer.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>
#include <tools/text.h>

#include "registry_reading.h"

using namespace shell_testing;
using service_testing::registry_key_exists;

namespace {

const std::wstring folder = L"{AF5C4171-54AA-42A6-B428-F226C3679F18}";
const std::wstring handlers[] = {L"{AF5C4171-54AA-42A6-B428-F226C3679F1D}", L"{AF5C4171-54AA-42A6-B428-F226C3679F1C}",
                                 L"{AF5C4171-54AA-42A6-B428-F226C3679F1A}", L"{AF5C4171-54AA-42A6-B428-F226C3679F1B}",
                                 L"{AF5C4171-54AA-42A6-B428-F226C3679F19}"};
const std::wstring server_class = L"{30000000-9A79-48F0-A26B-FDA05AE1AD1C}";
const wchar_t version_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
const std::wstring approved = std::wstring(version_key) + L"\\Shell Extensions\\Approved";
const std::wstring overlays = std::wstring(version_key) + L"\\Explorer\\ShellIconOverlayIdentifiers";
const std::wstring user_agent = std::wstring(version_key) + L"\\Internet Settings\\5.0\\User Agent\\Post Platform";
const std::wstring cached = std::wstring(version_key) + L"\\Shell Extensions\\Cached";

DWORD regsvr32(const std::wstring& arguments, const std::wstring& dll) {
    return testing::run_process(L"regsvr32 /s " + arguments + L"\"" + dll + L"\"");
}

std::wstring shell_dll() { return service_testing::dist_file(L"orrishell.dll"); }

std::wstring text(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
    return registry_text(root, key, name).value_or(L"<missing>");
}

bool same_class(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// The class that Explorer reaches from a ".orrisafe" file: extension -> ProgID -> CLSID, registered in-process.
std::wstring file_type_class() {
    std::wstring prog_id = text(HKEY_CLASSES_ROOT, L".orrisafe");
    std::wstring clsid = text(HKEY_CLASSES_ROOT, prog_id + L"\\CLSID");
    if (!registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32")) return L"<unregistered>";
    return clsid;
}

// The tree the shell's scripts write for a module at dll; `xp` for the script of Windows 5.1.
void check_registered_tree(const std::wstring& dll, bool xp) {
    const std::wstring new_command = L"\"" + dll.substr(0, dll.rfind(L'\\')) + L"\\orricreate.exe\" \"%1\"";
    CHECK(text(HKEY_CLASSES_ROOT, L".orrisafe") == L"Orrisafe.3.0");
    for (const wchar_t* shell_new : {L".orrisafe\\ShellNew", L".orrisafe\\Orrisafe.3.0\\ShellNew"}) {
        CHECK(text(HKEY_CLASSES_ROOT, shell_new) == L"Command");
        CHECK(text(HKEY_CLASSES_ROOT, shell_new, L"Command") == new_command);
    }
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe") == L"Orrisafe");
    CHECK(same_class(text(HKEY_CLASSES_ROOT, L"Orrisafe\\CLSID"), folder));
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe\\CurVer") == L"Orrisafe.3.0");
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0") == L"Orrisafe");
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0", L"FriendlyTypeName") == L"Orrisafe");
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\DefaultIcon") == dll);
    CHECK(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\ShellEx\\PropertySheetHandlers\\" + handlers[0]) ==
          L"Orrisafe Property Sheet");
    CHECK(registry_key_exists(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\ShellEx\\ContextMenuHandlers\\" + handlers[1]));
    CHECK(same_class(file_type_class(), folder));
    const std::wstring open = L"Orrisafe.3.0\\Shell\\open";
    if (xp) {
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\Command") == L"explorer /idlist,%I,%L");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\ddeexec") == L"[ViewFolder(\"%l\", %I, %S)]");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\ddeexec", L"NoActivateHandler") == L"");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\ddeexec\\application") == L"Folders");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\ddeexec\\ifexec") == L"[]");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\ddeexec\\topic") == L"AppProperties");
        CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\ShellEx\\StorageHandler"));
    } else {
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\command") == L"%SystemRoot%\\Explorer.exe /idlist,%I,%L");
        CHECK(text(HKEY_CLASSES_ROOT, open + L"\\command", L"DelegateExecute") ==
              L"{11dbb47c-a525-400b-9e80-a54615a090c0}");
        CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, open + L"\\ddeexec"));
        CHECK(same_class(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\ShellEx\\StorageHandler"), folder));
    }

    const std::wstring folder_key = L"CLSID\\" + folder;
    CHECK(text(HKEY_CLASSES_ROOT, folder_key) == L"Orrisafe");
    CHECK(text(HKEY_CLASSES_ROOT, folder_key, L"FriendlyTypeName") == L"Orrisafe");
    CHECK(text(HKEY_CLASSES_ROOT, folder_key + L"\\DefaultIcon") == dll);
    CHECK(text(HKEY_CLASSES_ROOT, folder_key + L"\\ProgID") == L"Orrisafe.3.0");
    CHECK(registry_dword(HKEY_CLASSES_ROOT, folder_key + L"\\ShellFolder", L"Attributes") == 0xA0000000u);
    CHECK(registry_key_exists(HKEY_CLASSES_ROOT,
                              folder_key + L"\\Implemented Categories\\{00021490-0000-0000-C000-000000000046}"));
    std::vector<std::wstring> classes(std::begin(handlers), std::end(handlers));
    classes.push_back(folder);
    for (const std::wstring& clsid : classes) {
        CHECK(text(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32") == dll);
        CHECK(text(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel") == L"Apartment");
    }
    CHECK(text(HKEY_CLASSES_ROOT, L"CLSID\\" + handlers[0]) == L"Orrisafe Property Sheet");
    CHECK(text(HKEY_CLASSES_ROOT, L"CLSID\\" + handlers[1]) == L"Orrisafe Context Menu Handler");
    CHECK(text(HKEY_CLASSES_ROOT, L"CLSID\\" + handlers[4]) == L"Orrisafe Key Icon Overlay Handler");

    CHECK(text(HKEY_LOCAL_MACHINE, approved, folder.c_str()) == L"Orrisafe");
    CHECK(text(HKEY_LOCAL_MACHINE, approved, handlers[0].c_str()) == L"Orrisafe Property Sheet");
    CHECK(text(HKEY_LOCAL_MACHINE, approved, handlers[1].c_str()) == L"Orrisafe Context Menu Handler");
    CHECK(registry_value_exists(HKEY_LOCAL_MACHINE, approved, handlers[2].c_str()) == xp);
    CHECK(registry_value_exists(HKEY_LOCAL_MACHINE, approved, handlers[4].c_str()) == xp);
    CHECK(same_class(text(HKEY_LOCAL_MACHINE, overlays + L"\\Orrisafe Frozen Icon Overlay Handler"), handlers[2]));
    CHECK(same_class(text(HKEY_LOCAL_MACHINE, overlays + L"\\Orrisafe Inaccessible Icon Overlay Handler"), handlers[3]));
    CHECK(same_class(text(HKEY_LOCAL_MACHINE, overlays + L"\\Orrisafe Key Icon Overlay Handler"), handlers[4]));

    DWORD type = 0, size = 99;
    CHECK(RegGetValueW(HKEY_LOCAL_MACHINE, user_agent.c_str(), L"Pellmoor Orrisafe", RRF_RT_ANY | RRF_NOEXPAND, &type,
                       nullptr, &size) == ERROR_SUCCESS);
    CHECK(type == REG_SZ);
    CHECK(size == 0);
}

void check_unregistered_tree() {
    for (const wchar_t* key : {L".orrisafe", L"Orrisafe", L"Orrisafe.3.0"})
        CHECK_MESSAGE(!registry_key_exists(HKEY_CLASSES_ROOT, key), key);
    CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID\\" + folder));
    for (const std::wstring& clsid : handlers) {
        CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid));
        CHECK_FALSE(registry_value_exists(HKEY_LOCAL_MACHINE, approved, clsid.c_str()));
    }
    CHECK_FALSE(registry_value_exists(HKEY_LOCAL_MACHINE, approved, folder.c_str()));
    CHECK_FALSE(registry_key_exists(HKEY_LOCAL_MACHINE, overlays + L"\\Orrisafe Key Icon Overlay Handler"));
    CHECK_FALSE(registry_value_exists(HKEY_LOCAL_MACHINE, user_agent, L"Pellmoor Orrisafe"));
    // The keys the scripts never remove.
    CHECK(registry_key_exists(HKEY_CLASSES_ROOT, L"CLSID"));
    CHECK(registry_key_exists(HKEY_LOCAL_MACHINE, approved));
    CHECK(registry_key_exists(HKEY_LOCAL_MACHINE, overlays));
}

// Asks COM for the server's class and one object, as every client does; the service is stopped again after.
bool service_activates() {
    tools::com_initializer apartment;
    tools::interface_holder<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(CLSID_StorageServer, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                  nullptr, IID_IClassFactory, factory.put_void());
    tools::interface_holder<IUnknown> root;
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IUnknown, root.put_void());
    root.reset();
    factory.reset();
    service_testing::run_server(L"/s");
    service_testing::wait_for_service_state(SERVICE_STOPPED);
    return hr == S_OK;
}

// Registration of the shell is undone when a test ends, whatever it did.
struct registered_shell_guard {
    ~registered_shell_guard() { regsvr32(L"/u ", shell_dll()); }
};

struct probe_object final : tools::com_object<IPersist> {
    STDMETHODIMP GetClassID(CLSID* id) override {
        *id = CLSID_NULL;
        return S_OK;
    }
};

IUnknown* make_probe(std::vector<IID>* interfaces) {
    if (interfaces) *interfaces = {IID_IPersist, IID_IUnknown};
    return static_cast<IPersist*>(new probe_object);
}

}  // namespace

TEST_CASE("regsvr32 writes the shell's tree, again the same, and /u takes it away") {
    registered_shell_guard guard;
    const std::wstring dll = shell_dll();
    REQUIRE(regsvr32(L"", dll) == 0);
    REQUIRE(regsvr32(L"", dll) == 0);
    check_registered_tree(dll, false);
    REQUIRE(regsvr32(L"/u ", dll) == 0);
    check_unregistered_tree();
}

TEST_CASE("Windows 5.1 registers its own script") {
    const wchar_t app_key[] = L"Software\\Wine\\AppDefaults\\regsvr32.exe";
    REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, app_key, L"Version", REG_SZ, L"winxp", 12) == ERROR_SUCCESS);
    {
        registered_shell_guard guard;
        REQUIRE(regsvr32(L"", shell_dll()) == 0);
        check_registered_tree(shell_dll(), true);
        REQUIRE(regsvr32(L"/u ", shell_dll()) == 0);
        check_unregistered_tree();
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, app_key);
}

TEST_CASE("a module whose path has a quote in it registers under that path") {
    testing::scratch_dir dir;
    const std::wstring folder_path = dir.file(L"Bob's 100% tools");
    REQUIRE(CreateDirectoryW(folder_path.c_str(), nullptr));
    const std::wstring dll = folder_path + L"\\orrishell.dll";
    REQUIRE(CopyFileW(shell_dll().c_str(), dll.c_str(), FALSE));
    REQUIRE(regsvr32(L"", dll) == 0);
    check_registered_tree(dll, false);
    REQUIRE(regsvr32(L"/u ", dll) == 0);
    check_unregistered_tree();
}

TEST_CASE("cached-extension values are written for each class that can be made, and deleted again") {
    const CLSID probe_class = {0x5F0E5A11, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
    const shell::ShellClass classes[] = {{&CLSID_StorageShellFolder, nullptr}, {&probe_class, make_probe}};
    const std::wstring prefix = tools::guid_to_string(probe_class) + L" ";
    const std::wstring persist = prefix + tools::guid_to_string(IID_IPersist) + L" 0x401";
    const std::wstring unknown = prefix + tools::guid_to_string(IID_IUnknown) + L" 0x401";
    shell::UpdateCachedValues(true, classes);
    CHECK(registry_dword(HKEY_LOCAL_MACHINE, cached, persist.c_str()) == 1u);
    CHECK(registry_dword(HKEY_LOCAL_MACHINE, cached, unknown.c_str()) == 1u);
    shell::UpdateCachedValues(false, classes);
    CHECK_FALSE(registry_value_exists(HKEY_LOCAL_MACHINE, cached, persist.c_str()));
    CHECK_FALSE(registry_value_exists(HKEY_LOCAL_MACHINE, cached, unknown.c_str()));
}

TEST_CASE("the service's ProgID and the shell's file type share one key in every order") {
    service_testing::installed_service_guard service_guard;
    registered_shell_guard shell_guard;
    const std::wstring dll = shell_dll();
    auto server_named = [&] {
        return same_class(text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\CLSID"), server_class) &&
               text(HKEY_CLASSES_ROOT, L"Orrisafe.3.0") == L"Orrisafe Service";
    };

    // Removed: the control manager lets a deleted service go only once its process has ended, and until then
    // refuses to install one of the same name.
    auto remove_service = [] {
        REQUIRE(service_testing::run_server(L"/u") == 0);
        CHECK(service_testing::wait_for_service_state(0) == 0);
    };

    for (bool service_first : {true, false}) {
        for (bool service_removed_first : {true, false}) {
            CAPTURE(service_first);
            CAPTURE(service_removed_first);
            if (service_first) {
                REQUIRE(service_testing::run_server(L"/i") == 0);
                CHECK(server_named());
            }
            REQUIRE(regsvr32(L"", dll) == 0);
            if (!service_first) REQUIRE(service_testing::run_server(L"/i") == 0);
            // Both installed: the file type names the folder, the service activates.
            check_registered_tree(dll, false);
            CHECK(service_activates());
            if (service_removed_first) {
                remove_service();
                check_registered_tree(dll, false);
                REQUIRE(regsvr32(L"/u ", dll) == 0);
                check_unregistered_tree();
            } else {
                REQUIRE(regsvr32(L"/u ", dll) == 0);
                CHECK(server_named());
                CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"Orrisafe.3.0\\DefaultIcon"));
                CHECK(service_activates());
                remove_service();
            }
            CHECK_FALSE(registry_key_exists(HKEY_CLASSES_ROOT, L"Orrisafe.3.0"));
        }
    }
}
