#include "defragment.h"

#include <objbase.h>
#include <shlwapi.h>

#include <tools/interface_holder.h>
#include <tools/text.h>

#include <platform/compound_file_check.h>

#include "hashed_element_name.h"

namespace {

HRESULT last_error() {
    DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
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
    std::wstring temporary = DefragTempFile(path);
    // A copy that a crash left behind goes first (creating over a hidden, system file is refused).
    RemoveDefragmentLeftover(path);
    HRESULT hr = S_OK;

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
            hr = StgCreateStorageEx(temporary.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE,
                                    STGFMT_DOCFILE, 0, &options, nullptr, IID_IStorage, target.put_void());
            created = SUCCEEDED(hr);
        }
        if (SUCCEEDED(hr)) {
            SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            hr = source->CopyTo(0, nullptr, nullptr, target.get());
        }
        if (SUCCEEDED(hr)) hr = target->Commit(STGC_DEFAULT);
    }
    // The complete copy takes the original's place in one checked step.
    if (SUCCEEDED(hr) && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = last_error();
    if (FAILED(hr)) {
        if (created) DeleteFileW(temporary.c_str());
        return hr;
    }
    SetFileAttributesW(path.c_str(), attributes);
    return S_OK;
}
