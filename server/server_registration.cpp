#include "server_registration.h"

#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <platform/registrar.h>
#include <tools/com_error.h>
#include <tools/com_initializer.h>
#include <tools/interface_holder.h>
#include <tools/paths.h>
#include <tools/security.h>

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
    tools::interface_holder<platform::IRegistrar> registrar;
    {
        tools::interface_holder<IUnknown> object;
        check(CoCreateInstance(platform::CLSID_Registrar, nullptr, CLSCTX_ALL, IID_IUnknown, object.put_void()));
        check(OleRun(object.get()));
        check(object->QueryInterface(platform::IID_IRegistrar, registrar.put_void()));
    }
    std::wstring access = tools::sddl_to_hex(access_permission);
    std::wstring launch = tools::sddl_to_hex(launch_permission);
    std::wstring exe_name = tools::path_file_name(module_path);
    check(registrar->AddReplacement(L"CLSID", storage_server_clsid_text));
    check(registrar->AddReplacement(L"SERVICE_NAME", service_name));
    check(registrar->AddReplacement(L"ACC_PERM", access.c_str()));
    check(registrar->AddReplacement(L"LAUNCH_PERM", launch.c_str()));
    check(registrar->AddReplacement(L"TLB", type_library_id_text));
    check(registrar->AddReplacement(L"EXENAME", exe_name.c_str()));
    check(registrar->AddReplacement(L"DESCR", L"Orrisafe Service"));
    check(registrar->AddReplacement(L"PROG_ID", server_prog_id));
    if (do_register)
        check(registrar->ResourceRegister(module_path.c_str(), registration_script_id, L"REGISTRY"));
    else
        check(registrar->ResourceUnregister(module_path.c_str(), registration_script_id, L"REGISTRY"));
}

}  // namespace server
