// Stands in for IStorage::RenameElement, which in Wine leaves the old name length in the file's directory entry.
#include "rename_element.h"

namespace platform {
namespace {

constexpr DWORD child_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

HRESULT copy_stream(IStorage* storage, const wchar_t* from, const wchar_t* to) {
    IStream* source = nullptr;
    HRESULT hr = storage->OpenStream(from, nullptr, child_mode, 0, &source);
    if (FAILED(hr)) return hr;
    IStream* target = nullptr;
    hr = storage->CreateStream(to, child_mode, 0, 0, &target);
    if (SUCCEEDED(hr)) {
        STATSTG stat{};
        hr = source->Stat(&stat, STATFLAG_NONAME);
        ULARGE_INTEGER copied{};
        if (SUCCEEDED(hr)) hr = source->CopyTo(target, stat.cbSize, nullptr, &copied);
        if (SUCCEEDED(hr) && copied.QuadPart != stat.cbSize.QuadPart) hr = STG_E_MEDIUMFULL;
        if (SUCCEEDED(hr)) hr = target->Commit(STGC_DEFAULT);
        target->Release();
    }
    source->Release();
    return hr;
}

HRESULT copy_storage(IStorage* storage, const wchar_t* from, const wchar_t* to) {
    IStorage* source = nullptr;
    HRESULT hr = storage->OpenStorage(from, nullptr, child_mode, nullptr, 0, &source);
    if (FAILED(hr)) return hr;
    IStorage* target = nullptr;
    hr = storage->CreateStorage(to, child_mode, 0, 0, &target);
    if (SUCCEEDED(hr)) {
        hr = source->CopyTo(0, nullptr, nullptr, target);
        if (SUCCEEDED(hr)) hr = target->Commit(STGC_DEFAULT);
        target->Release();
    }
    source->Release();
    return hr;
}

}  // namespace

HRESULT rename_element(IStorage* storage, const wchar_t* old_name, const wchar_t* new_name,
                       const std::function<HRESULT()>& once_copied) {
    if (!storage || !old_name || !new_name) return STG_E_INVALIDPOINTER;
    STATSTG stat{};
    IEnumSTATSTG* elements = nullptr;
    // The type decides how the element is copied; an absent old name is the caller's error.
    HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
    if (FAILED(hr)) return hr;
    DWORD type = 0;
    bool old_found = false, new_found = false;
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        if (lstrcmpiW(stat.pwcsName, old_name) == 0) {
            old_found = true;
            type = stat.type;
        }
        if (lstrcmpiW(stat.pwcsName, new_name) == 0) new_found = true;
        CoTaskMemFree(stat.pwcsName);
    }
    elements->Release();
    if (!old_found) return STG_E_FILENOTFOUND;
    if (new_found) return STG_E_FILEALREADYEXISTS;
    if (type == STGTY_STREAM)
        hr = copy_stream(storage, old_name, new_name);
    else if (type == STGTY_STORAGE)
        hr = copy_storage(storage, old_name, new_name);
    else
        hr = STG_E_INVALIDFUNCTION;
    if (SUCCEEDED(hr) && once_copied) hr = once_copied();
    if (FAILED(hr)) {
        if (hr != STG_E_FILEALREADYEXISTS) storage->DestroyElement(new_name);
        return hr;
    }
    return storage->DestroyElement(old_name);
}

}  // namespace platform
