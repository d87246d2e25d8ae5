// The three icon overlays of storage files: a key is attached, the storage is inaccessible (a guest, or no
// server), the storage is frozen. The icons are the module's own icon groups after its first.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <vector>

#include <tools/com_object.h>
#include "module_lock.h"

class COverlayIdentifier : public tools::com_object<IShellIconOverlayIdentifier> {
public:
    // S_OK for a storage file (".orrisafe", in any case) that is a member, else S_FALSE.
    STDMETHODIMP IsMemberOf(LPCWSTR path, DWORD attributes) override;
    // The module's file and the overlay's icon index; E_OUTOFMEMORY when the file name does not fit.
    STDMETHODIMP GetOverlayInfo(LPWSTR icon_file, int size, int* index, DWORD* flags) override;
    STDMETHODIMP GetPriority(int* priority) override;

protected:
    // MinGW declares no __uuidof for this interface.
    COverlayIdentifier(int icon_index, int priority)
        : com_object(IID_IShellIconOverlayIdentifier), icon_index_(icon_index), priority_(priority) {}
    // Whether the storage file at the path is a member; S_OK or S_FALSE.
    virtual HRESULT IsStorageMember(const wchar_t* path) noexcept = 0;

    // For the class table: a new overlay (one reference, the caller's) and the interfaces it registers.
    static IUnknown* Created(COverlayIdentifier* overlay, std::vector<IID>* interfaces);

private:
    shell::CModuleLock module_lock_;
    const int icon_index_;
    const int priority_;
};

class CFrozenOverlay final : public COverlayIdentifier {
public:
    CFrozenOverlay() : COverlayIdentifier(1, 1) {}
    static IUnknown* Create(std::vector<IID>* interfaces) { return Created(new CFrozenOverlay, interfaces); }

protected:
    HRESULT IsStorageMember(const wchar_t* path) noexcept override;
};

class CInaccessibleOverlay final : public COverlayIdentifier {
public:
    CInaccessibleOverlay() : COverlayIdentifier(2, 0) {}
    static IUnknown* Create(std::vector<IID>* interfaces) { return Created(new CInaccessibleOverlay, interfaces); }

protected:
    HRESULT IsStorageMember(const wchar_t* path) noexcept override;
};

class CKeyOverlay final : public COverlayIdentifier {
public:
    CKeyOverlay() : COverlayIdentifier(3, 2) {}
    static IUnknown* Create(std::vector<IID>* interfaces) { return Created(new CKeyOverlay, interfaces); }

protected:
    HRESULT IsStorageMember(const wchar_t* path) noexcept override;
};
