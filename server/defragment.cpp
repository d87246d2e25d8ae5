#include "defragment.h"

#include <objbase.h>
#include <shlwapi.h>

#include <tools/hresult.h>
#include <tools/interface_holder.h>
#include <tools/security.h>
#include <tools/text.h>

#include <platform/compound_file_check.h>

#include "hashed_element_name.h"

namespace {

server::DefragmentHook hook = nullptr;

void reach(server::DefragmentStep step, const std::wstring& copy) {
    if (hook) hook(step, copy);
}

HRESULT last_error() {
    DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

bool same_sid(PSID a, PSID b) { return a && b ? EqualSid(a, b) != FALSE : a == b; }

// Puts the storage's owner, group and access list on the copy. Owner and group are set only where they differ
// from the copy's: setting them asks for a right (WRITE_OWNER) that the copy's creator need not have.
HRESULT take_security(const std::wstring& copy, tools::byte_buffer& security) {
    tools::byte_buffer current;
    HRESULT hr = tools::com_boundary([&] { current = tools::file_security(copy.c_str()); });
    if (FAILED(hr)) return hr;
    SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
    PSID wanted = nullptr, now = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(security.data(), &wanted, &defaulted) ||
        !GetSecurityDescriptorOwner(current.data(), &now, &defaulted))
        return last_error();
    if (!same_sid(wanted, now)) parts |= OWNER_SECURITY_INFORMATION;
    if (!GetSecurityDescriptorGroup(security.data(), &wanted, &defaulted) ||
        !GetSecurityDescriptorGroup(current.data(), &now, &defaulted))
        return last_error();
    if (!same_sid(wanted, now)) parts |= GROUP_SECURITY_INFORMATION;
    return SetFileSecurityW(copy.c_str(), parts, security.data()) ? S_OK : last_error();
}

}  // namespace

std::wstring DefragTempFile(const std::wstring& path) {
    const wchar_t* file_name = PathFindFileNameW(path.c_str());
    return path.substr(0, static_cast<size_t>(file_name - path.c_str())) +
           tools::guid_to_string(ElementNameHash(file_name)) + L".orrisafe-defrag";
}

void RemoveDefragmentLeftover(const std::wstring& path) noexcept {
    try {
        DeleteFileW(DefragTempFile(path).c_str());
    } catch (...) {
        // No name, no leftover.
    }
}

HRESULT DefragmentStorageFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return E_INVALIDARG;
    // The platform replaces no read-only file, and a read-only copy that a crash left could not be removed.
    if (attributes & FILE_ATTRIBUTE_READONLY) return E_ACCESSDENIED;
    tools::byte_buffer security;
    HRESULT hr = tools::com_boundary([&] { security = tools::file_security(path.c_str()); });
    if (FAILED(hr)) return hr;
    std::wstring temporary = DefragTempFile(path);
    // A copy that a crash left behind goes first. The copy is then made only where nothing stands: a file or a
    // link put under its name (which can be guessed) in the meantime fails the defragmentation, untouched.
    RemoveDefragmentLeftover(path);

    // The copy is written with 512-byte sectors, whatever the original had.
    STGOPTIONS options{};
    options.usVersion = 1;
    options.ulSectorSize = 512;
    bool created = false;
    {
        tools::interface_holder<IStorage> source, target;
        // A file the server did not just write is checked before the platform's reader walks it.
        hr = platform::check_compound_file(path.c_str());
        if (SUCCEEDED(hr))
            hr = StgOpenStorageEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_DOCFILE, 0, nullptr,
                                  nullptr, IID_IStorage, source.put_void());
        if (SUCCEEDED(hr)) {
            reach(server::DefragmentStep::creating_copy, temporary);
            hr = StgCreateStorageEx(temporary.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0,
                                    &options, nullptr, IID_IStorage, target.put_void());
            created = SUCCEEDED(hr);
        }
        if (SUCCEEDED(hr)) {
            SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            // Closed to others as the storage is before any of its contents goes into it (made afresh, the copy
            // carries the folder's inherited access list and the caller as owner).
            hr = take_security(temporary, security);
        }
        if (SUCCEEDED(hr)) {
            reach(server::DefragmentStep::filling_copy, temporary);
            hr = source->CopyTo(0, nullptr, nullptr, target.get());
        }
        if (SUCCEEDED(hr)) hr = target->Commit(STGC_DEFAULT);
    }
    // The complete copy has the storage's attributes before it takes the storage's place, so that no crash leaves
    // the storage hidden.
    constexpr DWORD settable = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (SUCCEEDED(hr) && !SetFileAttributesW(temporary.c_str(), (attributes & settable) ? attributes & settable
                                                                                        : FILE_ATTRIBUTE_NORMAL))
        hr = last_error();
    if (SUCCEEDED(hr)) reach(server::DefragmentStep::replacing_storage, temporary);
    // The complete copy takes the original's place in one checked step.
    if (SUCCEEDED(hr) && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = last_error();
    if (FAILED(hr) && created) DeleteFileW(temporary.c_str());
    return hr;
}

server::DefragmentHook server::SetDefragmentHook(DefragmentHook next) {
    DefragmentHook before = hook;
    hook = next;
    return before;
}
