#include "storage_analysis.h"

#include <algorithm>

#include <platform/compound_file_check.h>
#include <tools/com_error.h>
#include <tools/interface_holder.h>

namespace shell {

namespace {

constexpr ULONGLONG directory_entry = 0x68;
constexpr ULONGLONG block = 4096;

void check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

// The element's name, freed with the record.
struct stat_record : STATSTG {
    stat_record() : STATSTG{} {}
    ~stat_record() { CoTaskMemFree(pwcsName); }
    stat_record(const stat_record&) = delete;
    stat_record& operator=(const stat_record&) = delete;
};

}  // namespace

ULONGLONG MeasureStorageUsage(IStorage* storage) {
    tools::interface_holder<IEnumSTATSTG> elements;
    check(storage->EnumElements(0, nullptr, 0, elements.put()));
    if (!elements) _com_issue_error(E_POINTER);
    ULONGLONG total = 0;
    for (;;) {
        stat_record element;
        if (elements->Next(1, &element, nullptr) != S_OK) break;
        if (element.pwcsName) {
            const ULONGLONG size = element.cbSize.QuadPart;
            if (element.pwcsName[0] == L'\x0005')
                total += size;
            else if (size != 0)
                total += (size / block) * block + block;
            if (element.type == STGTY_STORAGE) {
                tools::interface_holder<IStorage> child;
                check(storage->OpenStorage(element.pwcsName, nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                           child.put()));
                total += MeasureStorageUsage(child.get());
            }
        }
        total += directory_entry;
    }
    return total;
}

ULONGLONG OpenCompoundFile(const std::wstring& path) {
    check(platform::check_compound_file(path.c_str()));
    tools::interface_holder<IStorage> storage;
    check(StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr, nullptr,
                           IID_IStorage, storage.put_void()));
    return MeasureStorageUsage(storage.get());
}

ULONGLONG ComparableFileSize(ULONGLONG file_size) {
    return file_size > storage_file_overhead ? file_size - storage_file_overhead : 0;
}

ULONGLONG FragmentationPercent(ULONGLONG comparable_size, ULONGLONG used) {
    if (comparable_size == 0) return 0;
    used = std::min(used, comparable_size);
    return 100 - used * 100 / (comparable_size + 1);
}

}  // namespace shell
