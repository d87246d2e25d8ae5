// Test helpers over real compound files: create, open, read the raw bytes, and Wine's own property sets.
#pragma once
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <propidl.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tools/interface_holder.h>
#include <tools/tests/test_support.h>

namespace testing {

inline tools::interface_holder<IStorage> create_docfile(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    HRESULT hr = StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.put());
    REQUIRE(hr == S_OK);
    return storage;
}

inline tools::interface_holder<IStorage> open_docfile(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    HRESULT hr = StgOpenStorage(path.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0, storage.put());
    REQUIRE(hr == S_OK);
    return storage;
}

// Wine's own property sets over a storage: the independent reader (and writer) of our sets.
inline tools::interface_holder<IPropertySetStorage> wine_sets(IStorage* storage) {
    tools::interface_holder<IPropertySetStorage> sets;
    REQUIRE(StgCreatePropSetStg(storage, 0, sets.put()) == S_OK);
    return sets;
}

// The names and types of a storage's elements, in enumeration order.
inline std::vector<std::pair<std::wstring, DWORD>> list_elements(IStorage* storage) {
    std::vector<std::pair<std::wstring, DWORD>> names;
    IEnumSTATSTG* elements = nullptr;
    REQUIRE(storage->EnumElements(0, nullptr, 0, &elements) == S_OK);
    STATSTG stat{};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        names.emplace_back(stat.pwcsName, stat.type);
        CoTaskMemFree(stat.pwcsName);
    }
    elements->Release();
    return names;
}

inline std::vector<unsigned char> read_file(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

inline std::wstring bstr_text(const PROPVARIANT& v) { return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : std::wstring(); }

// Whether nobody holds the compound file open: it opens for reading and writing, exclusively.
inline bool file_is_free(const std::wstring& path) {
    tools::interface_holder<IStorage> storage;
    return StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                            IID_IStorage, storage.put_void()) == S_OK;
}

}  // namespace testing
