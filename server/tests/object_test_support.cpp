#include "object_test_support.h"

#include <server/client/server_calls.h>
#include <tools/com_error.h>
#include <tools/tests/test_support.h>

namespace object_testing {

bool is_object_gone(HRESULT hr) {
    switch (static_cast<unsigned long>(hr)) {
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x800401FD:  // CO_E_OBJNOTCONNECTED
    case 0x800706B5:  // RPC_S_UNKNOWN_IF
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BE:  // RPC_S_CALL_FAILED
    case 0x80010012:  // RPC_E_SERVER_DIED_DNE
    case 0x80010007:  // RPC_E_SERVER_DIED
        return true;
    default:
        return false;
    }
}

void create_storage_file(const std::wstring& path) {
    IStorage* storage = nullptr;
    HRESULT hr = StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage);
    REQUIRE(hr == S_OK);
    storage->Release();
}

std::wstring name_of(IStorageElement* element) {
    try {
        return GetNameOrThrow(element).text();
    } catch (const _com_error&) {
        return L"<failed>";
    }
}

std::wstring name_of(IElementInfo* info) {
    try {
        return GetNameOrThrow(info).text();
    } catch (const _com_error&) {
        return L"<failed>";
    }
}

typelib_registration::typelib_registration() {
    std::wstring dir = testing::env(L"ORRI_DIST_DIR");
    if (!dir.empty() && dir[0] == L'/') {
        // Wine maps the host's root folder as drive Z:.
        for (auto& c : dir)
            if (c == L'/') c = L'\\';
        dir = L"Z:" + dir;
    }
    std::wstring path = dir + L"\\orrisafe.tlb";
    hr_ = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, lib_.put());
}

typelib_registration::~typelib_registration() {
    if (!lib_ || FAILED(hr_)) return;
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED(lib_->GetLibAttr(&attr))) {
        UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        lib_->ReleaseTLibAttr(attr);
    }
}

}  // namespace object_testing
