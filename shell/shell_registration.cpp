#include "shell_registration.h"

#include <shlobj.h>
#include <mutex>
#include <vector>
#include <server/idl/storage_identities.h>
#include <server/server_identity.h>
#include <tools/com_initializer.h>
#include <tools/com_error.h>
#include <tools/hresult.h>
#include <tools/paths.h>
#include <tools/shared_prog_id.h>
#include <tools/system_registrar.h>
#include <tools/text.h>
#include "module_instance.h"

namespace shell {

namespace {

const wchar_t cached_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Cached";
const wchar_t user_agent_key[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\User Agent\\Post Platform";
const wchar_t user_agent_value[] = L"Pellmoor Orrisafe";
const wchar_t file_type_prog_id[] = L"Orrisafe.3.0";

// The scripts quote every path: a quote inside one is written twice, as the registrar reads it.
std::wstring script_quoted(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'\'') out += L'\'';
    }
    return out;
}

// Filled on the first registration call of the process; kept for its life.
struct registration_choice {
    platform::registrar_replacements replacements;
    UINT script = 0;
};

const registration_choice& choice() {
    static registration_choice made;
    static std::once_flag once;
    std::call_once(once, [] {
        made.replacements = RegistrationReplacements(tools::module_file_path(ModuleInstance()));
        made.script = RegistrationScriptFor(GetShellVersionClass());
    });
    return made;
}

HRESULT run_registrar(bool do_register) {
    const registration_choice& made = choice();
    const std::wstring module_path = tools::module_file_path(ModuleInstance());
    tools::interface_holder<platform::IRegistrar> registrar;
    try {
        registrar = tools::create_system_registrar();
    } catch (const _com_error&) {
        return E_UNEXPECTED;
    }
    for (const auto& [key, item] : made.replacements) {
        HRESULT hr = registrar->AddReplacement(key.c_str(), item.c_str());
        if (FAILED(hr)) return hr;
    }
    // Where the registrar falls short (Wine's: see the platform layer), we finish its work.
    const auto values = platform::script_values(module_path.c_str(), made.script, L"REGISTRY", made.replacements);
    if (do_register) {
        HRESULT hr = registrar->ResourceRegister(module_path.c_str(), made.script, L"REGISTRY");
        if (SUCCEEDED(hr)) platform::rewrite_dword_values(values);
        return hr;
    }
    HRESULT hr = registrar->ResourceUnregister(module_path.c_str(), made.script, L"REGISTRY");
    if (FAILED(hr)) return hr;
    platform::remove_val_values(values);
    // The file type's ProgID is also the server's: while the server is registered it gets its own class back.
    if (tools::class_registered(server::storage_server_clsid_text))
        tools::write_prog_id_class(file_type_prog_id, {server::server_description, server::storage_server_clsid_text});
    return S_OK;
}

}  // namespace

int GetShellVersionClass() noexcept {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version)) return 0;
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) return 1;
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 1) return 2;
    if (version.dwMajorVersion == 6) return 3;
    return 0;
}

UINT RegistrationScriptFor(int version_class) noexcept {
    return version_class == 2 ? registration_script_xp : registration_script;
}

platform::registrar_replacements RegistrationReplacements(const std::wstring& module_path) {
    const std::wstring module = script_quoted(module_path);
    const std::wstring new_handler = script_quoted(tools::path_directory(module_path) + L"\\orricreate.exe");
    const std::wstring attributes = std::to_wstring(static_cast<unsigned long>(SFGAO_FOLDER | SFGAO_HASSUBFOLDER));
    return {
        {L"CLSID", L"{AF5C4171-54AA-42a6-B428-F226C3679F18}"},
        {L"DESCRIPTION", L"Orrisafe"},
        {L"NEW_HANDLER", new_handler},
        {L"PROG_ID", L"Orrisafe"},
        {L"PROG_ID_CUR", file_type_prog_id},
        {L"EXTENSION", L".orrisafe"},
        {L"MODULE", module},
        {L"ICON", module},
        {L"CTX_MENU_HANDLER", L"{AF5C4171-54AA-42a6-B428-F226C3679F1C}"},
        {L"CTX_MENU_DESCRIPTION", L"Orrisafe Context Menu Handler"},
        {L"FRIENDLYTYPENAME", L"Orrisafe"},
        {L"PS_CLSID", L"{AF5C4171-54AA-42a6-B428-F226C3679F1D}"},
        {L"PS_DESCRIPTION", L"Orrisafe Property Sheet"},
        {L"SFGAO", attributes},
        {L"ICOVR_FROZEN_DESCRIPTION", L"Orrisafe Frozen Icon Overlay Handler"},
        {L"ICOVR_FROZEN_CLSID", L"{AF5C4171-54AA-42a6-B428-F226C3679F1A}"},
        {L"ICOVR_INACC_DESCRIPTION", L"Orrisafe Inaccessible Icon Overlay Handler"},
        {L"ICOVR_INACC_CLSID", L"{AF5C4171-54AA-42a6-B428-F226C3679F1B}"},
        {L"ICOVR_HASKEY_DESCRIPTION", L"Orrisafe Key Icon Overlay Handler"},
        {L"ICOVR_HASKEY_CLSID", L"{AF5C4171-54AA-42a6-B428-F226C3679F19}"},
    };
}

void UpdateCachedValues(bool do_register, std::span<const ShellClass> classes) noexcept {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, cached_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    for (const ShellClass& entry : classes) {
        tools::com_boundary([&] {
            std::vector<IID> interfaces;
            CreateShellObject(entry, &interfaces)->Release();
            const std::wstring clsid = tools::guid_to_string(*entry.clsid);
            for (const IID& iid : interfaces) {
                const std::wstring name = clsid + L" " + tools::guid_to_string(iid) + L" 0x401";
                const DWORD one = 1;
                if (do_register)
                    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
                else
                    RegDeleteValueW(key, name.c_str());
            }
        });
    }
    RegCloseKey(key);
}

void UserAgentToken(bool do_register, bool /*per_user: registration always writes for the machine*/) noexcept {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, user_agent_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (do_register)
        RegSetValueExW(key, user_agent_value, 0, REG_SZ, nullptr, 0);
    else
        RegDeleteValueW(key, user_agent_value);
    RegCloseKey(key);
}

HRESULT UpdateRegistration(bool do_register) noexcept {
    UpdateCachedValues(do_register, ShellClasses());
    HRESULT hr = tools::com_boundary([&] {
        tools::com_initializer com;
        return run_registrar(do_register);
    });
    if (FAILED(hr)) {
        // Nothing of a failed registration stays behind.
        if (do_register) UpdateRegistration(false);
        return hr;
    }
    SHLoadNonloadedIconOverlayIdentifiers();
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    UserAgentToken(do_register, false);
    return hr;
}

}  // namespace shell
