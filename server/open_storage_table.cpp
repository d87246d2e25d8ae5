#include "open_storage_table.h"

#include "storage_object.h"

COpenStorageTable::COpenStorageTable(std::wstring own_name, COpenStorageTable* parent, CStorageObject* owner)
    : parent_(parent), own_name_(std::move(own_name)), owner_(owner) {}

COpenStorageTable::~COpenStorageTable() {
    Leave();
    // A child whose parent reference was handed away can outlive this table: it must not reach back.
    for (auto& entry : children_) entry.second->Table().parent_ = nullptr;
}

CStorageObject* COpenStorageTable::Find(const std::wstring& name) const {
    auto found = children_.find(name);
    return found == children_.end() ? nullptr : found->second;
}

void COpenStorageTable::Add(const std::wstring& name, CStorageObject* object) { children_[name] = object; }

void COpenStorageTable::Remove(const std::wstring& name, CStorageObject* object) noexcept {
    auto found = children_.find(name);
    if (found != children_.end() && found->second == object) children_.erase(found);
}

void COpenStorageTable::Remove(const std::wstring& name) noexcept { children_.erase(name); }

void COpenStorageTable::Leave() noexcept {
    if (parent_) parent_->Remove(own_name_, owner_);
    parent_ = nullptr;
}
