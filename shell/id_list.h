// The owning holder of one shell ID list (which may be NULL), freed with ILFree. A copy is a clone. Beside it, the
// ID-list arithmetic the namespace code shares. Lists are compared by their bytes, record for record: the shell's
// own comparisons refuse items of other namespaces than its own under Wine.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>
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

// The record after this one (the terminator's place after the last).
inline const ITEMIDLIST* NextIdListItem(const ITEMIDLIST* item) noexcept {
    return reinterpret_cast<const ITEMIDLIST*>(reinterpret_cast<const BYTE*>(item) + item->mkid.cb);
}

// A new list: base followed by relative; both stay the caller's. No memory: the COM error E_OUTOFMEMORY.
CIdList CombineIdLists(const ITEMIDLIST* base, const ITEMIDLIST* relative);
// The holder's list followed by relative, in place of the holder's list.
void AppendIdList(CIdList& holder, const ITEMIDLIST* relative);
// Whether every record of prefix equals, length and bytes, the record at the same place in full. A null full
// gives false.
bool IsIdListPrefix(const ITEMIDLIST* prefix, const ITEMIDLIST* full) noexcept;
// Whether the two lists hold the same records.
bool IdListsEqual(const ITEMIDLIST* a, const ITEMIDLIST* b) noexcept;
// The part of full below root (the terminator when the two are equal); the COM error E_INVALIDARG when root is
// not a prefix of full.
const ITEMIDLIST* RelativeIdList(const ITEMIDLIST* root, const ITEMIDLIST* full);
// The file-system path of a list; the COM error E_FAIL when it has none.
std::wstring IdListPath(const ITEMIDLIST* list);
