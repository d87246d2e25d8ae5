#include "element_store.h"

#include <tools/hresult.h>

#include <platform/compound_file_check.h>

#include "rename_record.h"

namespace {
constexpr DWORD file_mode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
}

bool OpenStorageFile(CStorageWrapper& root, const std::wstring& path) {
    root.SetStorage(nullptr);
    // The platform's reader can loop for ever on a damaged file: it sees only files that pass our check.
    HRESULT hr = platform::check_compound_file(path.c_str());
    // A crash while a rename recorded whole destroyed the old element leaves streams of it that end early: they are
    // cut to what they still hold, and nothing else changes, so that the settlement below removes what is left.
    if (hr == STG_E_DOCFILECORRUPT) hr = platform::empty_half_destroyed_streams(path.c_str(), RenamedAwayElement());
    root.SetLastResult(hr);
    if (FAILED(hr)) return false;
    IStorage* storage = nullptr;
    hr = StgOpenStorageEx(path.c_str(), file_mode, STGFMT_DOCFILE, 0, nullptr, nullptr, IID_IStorage,
                                  reinterpret_cast<void**>(&storage));
    root.SetLastResult(hr);
    if (FAILED(hr)) return false;
    // Before anyone sees the tree. Should it fail, the tree is served as it is and the next open tries again.
    SettleInterruptedRename(storage);
    root.SetStorage(storage);
    storage->Release();
    return true;
}

StorageHolder OpenStorageFile(const std::wstring& path, HRESULT* result) {
    try {
        StorageHolder root = CStorageWrapper::Make(nullptr, StorageHolder());
        bool opened = OpenStorageFile(*root, path);
        if (result) *result = root->LastResult();
        return opened ? root : StorageHolder();
    } catch (...) {
        if (result) *result = tools::current_exception_hresult();
        return StorageHolder();
    }
}
