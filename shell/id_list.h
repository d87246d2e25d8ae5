// The owning holder of one shell ID list (which may be NULL), freed with ILFree. A copy is a clone.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <utility>

class CIdList {
public:
    CIdList() noexcept = default;
    // Takes over a list allocated by the shell's allocator.
    explicit CIdList(ITEMIDLIST* owned) noexcept : list_(owned) {}
    // Clones; a failed clone raises the COM error E_OUTOFMEMORY.
    CIdList(const CIdList& other);
    CIdList(CIdList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
    CIdList& operator=(CIdList other) noexcept {
        std::swap(list_, other.list_);
        return *this;
    }
    ~CIdList() { ILFree(list_); }

    // A clone of list, which stays the caller's.
    static CIdList Clone(const ITEMIDLIST* list);

    ITEMIDLIST* get() const noexcept { return list_; }
    explicit operator bool() const noexcept { return list_ != nullptr; }
    void reset(ITEMIDLIST* owned = nullptr) noexcept { ILFree(std::exchange(list_, owned)); }
    ITEMIDLIST* detach() noexcept { return std::exchange(list_, nullptr); }

private:
    ITEMIDLIST* list_ = nullptr;
};
