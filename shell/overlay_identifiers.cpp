#include "overlay_identifiers.h"

#include <strsafe.h>

#include <platform/dialog_framework.h>
#include <server/client/connect_server.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <tools/hresult.h>
#include <tools/paths.h>
#include <tools/security.h>
#include "storage_at_path.h"
#include "storage_freeze_query.h"

IUnknown* COverlayIdentifier::Created(COverlayIdentifier* overlay, std::vector<IID>* interfaces) {
    if (interfaces) *interfaces = {IID_IShellIconOverlayIdentifier, IID_IUnknown};
    return static_cast<IShellIconOverlayIdentifier*>(overlay);
}

STDMETHODIMP COverlayIdentifier::IsMemberOf(LPCWSTR path, DWORD) {
    if (!path) return S_FALSE;
    try {
        if (_wcsicmp(tools::path_extension(path).c_str(), L".orrisafe") != 0) return S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
    return IsStorageMember(path);
}

STDMETHODIMP COverlayIdentifier::GetOverlayInfo(LPWSTR icon_file, int size, int* index, DWORD* flags) {
    if (!icon_file || !index || !flags) return E_POINTER;
    *index = icon_index_;
    *flags = ISIOI_ICONFILE | ISIOI_ICONINDEX;
    if (size <= 0) return E_OUTOFMEMORY;
    return tools::com_boundary([&] {
        const std::wstring module = tools::module_file_path(platform::this_module());
        return FAILED(StringCchCopyW(icon_file, static_cast<size_t>(size), module.c_str())) ? E_OUTOFMEMORY : S_OK;
    });
}

STDMETHODIMP COverlayIdentifier::GetPriority(int* priority) {
    if (!priority) return E_POINTER;
    *priority = priority_;
    return S_OK;
}

HRESULT CFrozenOverlay::IsStorageMember(const wchar_t* path) noexcept {
    try {
        return shell::IsStorageFrozenAtPath(path) ? S_OK : S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
}

HRESULT CInaccessibleOverlay::IsStorageMember(const wchar_t*) noexcept {
    try {
        if (tools::is_guest_user()) return S_OK;
        ConnectServer();
        return S_FALSE;
    } catch (...) {
        return S_OK;
    }
}

HRESULT CKeyOverlay::IsStorageMember(const wchar_t* path) noexcept {
    try {
        return GetStorageFlags(shell::OpenStorageAtPath(path).get()) & StorageFlagKeyAttached ? S_OK : S_FALSE;
    } catch (...) {
        return S_FALSE;
    }
}
