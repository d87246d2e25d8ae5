// orritypes: registers or unregisters a type library for the installer.
// Usage: orritypes.exe -i|-u file.tlb, the file named relative to this program's folder.
#include <windows.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <cstdio>

namespace {

const wchar_t usage_text[] =
    L"Orrisafe type library registrar\n"
    L"Description: type library command line registrar.\n"
    L"\n"
    L"Usage:\n"
    L"\n"
    L"orritypes.exe -[i|u] file.tlb\n"
    L"\n"
    L"\ti - install type library\n"
    L"\tu - uninstall type library\n";

// Owns the library for the program's run; it must go before COM is uninitialised.
class library_holder {
public:
    library_holder() = default;
    ~library_holder() { reset(); }
    library_holder(const library_holder&) = delete;
    library_holder& operator=(const library_holder&) = delete;
    ITypeLib** put() { reset(); return &lib_; }
    ITypeLib* get() const { return lib_; }
    void reset() {
        if (lib_) lib_->Release();
        lib_ = nullptr;
    }

private:
    ITypeLib* lib_ = nullptr;
};

HRESULT last_error_hresult() {
    DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_UNEXPECTED;
}

// The full path of `file` taken relative to the folder this program was started from.
HRESULT resolve_library_path(const wchar_t* file, wchar_t (&path)[MAX_PATH]) {
    wchar_t joined[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, joined, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return last_error_hresult();
    PathRemoveFileSpecW(joined);
    if (!PathAppendW(joined, file)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    if (!PathSearchAndQualifyW(joined, path, MAX_PATH)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    return S_OK;
}

int install(ITypeLib* lib, wchar_t* path) {
    HRESULT hr = RegisterTypeLib(lib, path, nullptr);
    if (FAILED(hr)) {
        printf("Error: Unable register type library [0x%08X]", static_cast<unsigned>(hr));
        return 1;
    }
    puts("OK. Type library was successfuly registered");
    return 0;
}

// Unregistering counts as done even when the library was not registered.
int uninstall(ITypeLib* lib) {
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) {
        printf("Error: Unable to obtain type library attributes [0x%08X]", static_cast<unsigned>(hr));
        return 1;
    }
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    if (SUCCEEDED(hr)) puts("OK. Type library was successfuly unregistered");
    else printf("Error: Unable unregister type library [0x%08X]", static_cast<unsigned>(hr));
    lib->ReleaseTLibAttr(attr);
    return 0;
}

int run(bool installing, const wchar_t* file) {
    wchar_t path[MAX_PATH];
    HRESULT hr = resolve_library_path(file, path);
    if (FAILED(hr)) {
        printf("Error: Unable to build type library path [0x%08X]", static_cast<unsigned>(hr));
        return 1;
    }
    library_holder lib;
    hr = LoadTypeLibEx(path, REGKIND_NONE, lib.put());
    if (FAILED(hr)) {
        printf("Error: Unable to load type library file [0x%08X]", static_cast<unsigned>(hr));
        return 1;
    }
    return installing ? install(lib.get(), path) : uninstall(lib.get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool installing = argc == 3 && lstrcmpiW(argv[1], L"-i") == 0;
    bool uninstalling = argc == 3 && lstrcmpiW(argv[1], L"-u") == 0;
    if (!installing && !uninstalling) {
        _putws(usage_text);
        return 1;
    }
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        printf("Error: Unable to initialize COM [0x%08X]", static_cast<unsigned>(hr));
        return 1;
    }
    int code = run(installing, argv[2]);
    CoUninitialize();
    return code;
}
