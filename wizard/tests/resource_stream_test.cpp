// The banner read from the program's own resources, also when the system cannot lock the resource.
#include <doctest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include <tools/file_io.h>
#include <tools/tests/test_support.h>

#include "wizard/resource.h"
#include "wizard/resource_stream.h"

namespace {

// This program's import of a kernel32 function, replaced while the object lives: a failure the system never
// gives on demand.
class patched_import {
public:
    patched_import(const char* function, void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
            if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "kernel32.dll") != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) == 0)
                    slot_ = reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
        REQUIRE(slot_);
        original_ = exchange(replacement);
    }
    ~patched_import() { exchange(original_); }
    patched_import(const patched_import&) = delete;
    patched_import& operator=(const patched_import&) = delete;

private:
    void* exchange(void* value) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        void* before = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof(void*), old, &old);
        return before;
    }
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

LPVOID WINAPI lock_nothing(HGLOBAL) { return nullptr; }

size_t busy_heap_blocks() {
    HANDLE heap = GetProcessHeap();
    size_t busy = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
    HeapUnlock(heap);
    return busy;
}

}  // namespace

TEST_CASE("a resource reads as a stream of its bytes; one that cannot be locked gives none and leaves nothing") {
    HMODULE self = GetModuleHandleW(nullptr);
    tools::byte_buffer file;
    tools::read_file(testing::windows_path_of(testing::env(L"ORRI_SOURCE_DIR")) + L"\\wizard\\res\\banner.png", file);
    REQUIRE(file.size() > 8);
    auto stream = ResourceStream(self, IDB_BANNER, L"PNG");
    REQUIRE(stream);
    std::vector<unsigned char> read(file.size() + 16);
    ULONG got = 0;
    stream->Read(read.data(), static_cast<ULONG>(read.size()), &got);
    read.resize(got);
    CHECK(read == std::vector<unsigned char>(file.begin(), file.end()));
    CHECK_FALSE(ResourceStream(self, IDB_BANNER + 1000, L"PNG"));

    patched_import failing_lock("LockResource", reinterpret_cast<void*>(&lock_nothing));
    size_t before = busy_heap_blocks();
    int streams = 0;
    for (int i = 0; i < 200; ++i) streams += ResourceStream(self, IDB_BANNER, L"PNG") ? 1 : 0;
    size_t after = busy_heap_blocks();
    CHECK(streams == 0);
    CHECK(after < before + 50);
}
