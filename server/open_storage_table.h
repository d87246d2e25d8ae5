// The table of open folder objects under one owner (a folder's open children, or the server's open
// storages by path): one object per name while it is open. Entries are not counted references.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include "icase_less.h"

class CStorageObject;

class COpenStorageTable {
public:
    // owner is the object entered in parent under own_name (null for a table entered nowhere).
    COpenStorageTable(std::wstring own_name, COpenStorageTable* parent, CStorageObject* owner);
    // Leaves the parent table, and tells the children still entered that this table is gone.
    ~COpenStorageTable();
    COpenStorageTable(const COpenStorageTable&) = delete;
    COpenStorageTable& operator=(const COpenStorageTable&) = delete;

    CStorageObject* Find(const std::wstring& name) const;
    void Add(const std::wstring& name, CStorageObject* object);
    // Erases the entry for name when it points at object.
    void Remove(const std::wstring& name, CStorageObject* object) noexcept;
    // Erases the entry for name, whatever it points at.
    void Remove(const std::wstring& name) noexcept;
    // Takes the owner out of its parent table; afterwards the owner is entered nowhere.
    void Leave() noexcept;

    bool Empty() const noexcept { return children_.empty(); }
    size_t Size() const noexcept { return children_.size(); }
    CStorageObject* First() const noexcept { return children_.empty() ? nullptr : children_.begin()->second; }
    const std::wstring& OwnName() const noexcept { return own_name_; }

private:
    COpenStorageTable* parent_;
    std::wstring own_name_;
    CStorageObject* owner_;
    std::map<std::wstring, CStorageObject*, ICaseLess> children_;
};
