#include "server_registration.h"

#include <windows.h>

#include <tools/com_error.h>
#include <tools/com_initializer.h>
#include <tools/paths.h>
#include <tools/security.h>
#include <tools/shared_prog_id.h>
#include <tools/system_registrar.h>

#include "server_identity.h"

namespace server {

namespace {

// Who may call and launch the server; the script stores them as binary security descriptors.
const wchar_t access_permission[] = L"O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDC;;;SY)(A;;CCDCLC;;;BA)(A;;CCDC;;;WD)";
const wchar_t launch_permission[] =
    L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCLCSWRP;;;BA)(A;;CCDCSW;;;WD)(A;;CCDCSW;;;IU)";

void check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

}  // namespace

void RegisterServer(const std::wstring& module_path, bool do_register) {
    tools::com_initializer com;
    com.check();
    auto registrar = tools::create_system_registrar();
    std::wstring access = tools::sddl_to_hex(access_permission);
    std::wstring launch = tools::sddl_to_hex(launch_permission);
    std::wstring exe_name = tools::path_file_name(module_path);
    check(registrar->AddReplacement(L"CLSID", storage_server_clsid_text));
    check(registrar->AddReplacement(L"SERVICE_NAME", service_name));
    check(registrar->AddReplacement(L"ACC_PERM", access.c_str()));
    check(registrar->AddReplacement(L"LAUNCH_PERM", launch.c_str()));
    check(registrar->AddReplacement(L"TLB", type_library_id_text));
    check(registrar->AddReplacement(L"EXENAME", exe_name.c_str()));
    check(registrar->AddReplacement(L"DESCR", server_description));
    check(registrar->AddReplacement(L"PROG_ID", server_prog_id));
    // The ProgID is also the shell extension's storage file type, which needs its CLSID subkey to name the
    // namespace folder: while it names that (registered) class, neither registering nor removing the server
    // takes it away.
    std::optional<tools::prog_id_class> shared = tools::read_prog_id_class(server_prog_id);
    bool keep_shared = shared && !tools::same_guid_text(shared->clsid, storage_server_clsid_text) &&
                       tools::class_registered(shared->clsid);
    if (do_register)
        check(registrar->ResourceRegister(module_path.c_str(), registration_script_id, L"REGISTRY"));
    else
        check(registrar->ResourceUnregister(module_path.c_str(), registration_script_id, L"REGISTRY"));
    if (keep_shared) tools::write_prog_id_class(server_prog_id, *shared);
}

}  // namespace server
