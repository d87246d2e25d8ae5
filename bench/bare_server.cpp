// A local COM server with nothing of the product in it: it opens a plain compound file and hands out a
// stream of it, so that the storage server's cost can be told apart from the cost of crossing processes.
//   bare_server /regserver   registers the class as LocalServer32 and its type library
//   bare_server -Embedding   (started by COM) serves the class until its last object is released
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include <bare_server.h>
#include <tools/com_object.h>
#include <tools/hresult.h>
#include <tools/interface_holder.h>

namespace {

std::wstring module_path() {
    wchar_t path[MAX_PATH + 1]{};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Counts the process's objects and locks; the last one to go ends the message loop.
void process_add_ref() { CoAddRefServerProcess(); }
void process_release() {
    if (CoReleaseServerProcess() == 0) PostQuitMessage(0);
}

class bare_stream_server final : public tools::com_object<IBareStreamServer> {
public:
    bare_stream_server() { process_add_ref(); }
    ~bare_stream_server() override {
        storage_.reset();
        process_release();
    }

    STDMETHODIMP OpenStream(BSTR path, BSTR name, VARIANT_BOOL create, IStream** stream) override {
        return tools::com_boundary([&]() -> HRESULT {
            if (!path || !name || !stream) return E_POINTER;
            *stream = nullptr;
            constexpr DWORD mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
            storage_.reset();
            HRESULT hr = create ? StgCreateDocfile(path, STGM_CREATE | mode, 0, storage_.put())
                                : StgOpenStorage(path, nullptr, mode, nullptr, 0, storage_.put());
            if (FAILED(hr)) return hr;
            return create ? storage_->CreateStream(name, STGM_CREATE | mode, 0, 0, stream)
                          : storage_->OpenStream(name, nullptr, mode, 0, stream);
        });
    }

    STDMETHODIMP CloseFile() override {
        storage_.reset();
        return S_OK;
    }

private:
    tools::interface_holder<IStorage> storage_;  // a stream of it is revoked once it goes
};

class bare_factory final : public tools::com_object<IClassFactory> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return tools::com_boundary([&]() -> HRESULT {
            auto* object = new bare_stream_server();
            HRESULT hr = object->QueryInterface(iid, out);
            object->Release();
            return hr;
        });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            process_add_ref();
        else
            process_release();
        return S_OK;
    }
};

std::wstring guid_text(const GUID& guid) {
    wchar_t text[40]{};
    StringFromGUID2(guid, text, 40);
    return text;
}

int register_server() {
    std::wstring exe = module_path();
    std::wstring tlb = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"bare_server.tlb";
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(tlb.c_str(), REGKIND_REGISTER, &library);
    if (FAILED(hr)) return 1;
    library->Release();
    std::wstring key = L"Software\\Classes\\CLSID\\" + guid_text(CLSID_BareStreamServer) + L"\\LocalServer32";
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return 1;
    std::wstring command = L"\"" + exe + L"\"";
    LONG rc = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

int serve() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    static bare_factory factory;
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_BareStreamServer, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && _wcsicmp(argv[1], L"/regserver") == 0) return register_server();
    return serve();
}
