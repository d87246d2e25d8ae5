// orrishell.dll's entry point and exports.
#include <windows.h>
#include <objbase.h>

#include <tools/auto_handle.h>
#include <tools/global_mutex.h>
#include "class_factory.h"
#include "module_instance.h"
#include "module_lock.h"
#include "shell_registration.h"
#include "worker_thread.h"

namespace {

// The product's presence marker, held while the DLL is loaded.
tools::auto_kernel_handle product_mutex;

bool nothing_alive() { return shell::ModuleLockCount() == 0; }

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        try {
            product_mutex = tools::create_global_mutex();
            shell::SetModuleInstance(instance);
            DisableThreadLibraryCalls(instance);
            return TRUE;
        } catch (...) {
            return FALSE;
        }
    case DLL_PROCESS_DETACH:
        // At process end every other thread is gone already. Otherwise a worker still running gets one bounded
        // chance to end: it cannot finish ending while we hold the loader lock, so it is terminated after that.
        if (!reserved) shell::StartWorkerThread(false);
        product_mutex.reset();
        return TRUE;
    default:
        return TRUE;
    }
}

STDAPI DllCanUnloadNow() {
    // The worker goes with the last object, so the host can unload the DLL with no thread left inside it.
    return shell::StopWorkerThreadIf(&nothing_alive) ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) { return shell::GetShellClassObject(clsid, iid, out); }

STDAPI DllRegisterServer() { return shell::UpdateRegistration(true); }

STDAPI DllUnregisterServer() { return shell::UpdateRegistration(false); }
