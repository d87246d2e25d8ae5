#include "storage_key_map.h"

#include <tools/com_error.h>
#include <tools/win_except.h>

CStorageKeyMap& CStorageKeyMap::Instance() {
    static CStorageKeyMap map;
    return map;
}

void CStorageKeyMap::Register(const GUID& id, ContentKey key, tools::auto_cert_context key_certificate) {
    tools::scoped_lock hold(lock_);
    if (entries_.count(id)) throw tools::win_except(ERROR_ALREADY_INITIALIZED);
    Entry& entry = entries_[id];
    entry.key = std::move(key);
    entry.key_certificate = std::move(key_certificate);
    InterlockedIncrement(&entry.count);
}

bool CStorageKeyMap::Contains(const GUID& id) {
    tools::scoped_lock hold(lock_);
    return entries_.count(id) != 0;
}

void CStorageKeyMap::AddRef(const GUID& id) {
    tools::scoped_lock hold(lock_);
    auto found = entries_.find(id);
    if (found != entries_.end()) InterlockedIncrement(&found->second.count);
}

void CStorageKeyMap::Release(const GUID& id) {
    tools::scoped_lock hold(lock_);
    auto found = entries_.find(id);
    if (found != entries_.end()) InterlockedDecrement(&found->second.count);
}

void CStorageKeyMap::Remove(const GUID& id) {
    tools::scoped_lock hold(lock_);
    entries_.erase(id);
}

ContentKey CStorageKeyMap::Find(const GUID& id) {
    tools::scoped_lock hold(lock_);
    auto found = entries_.find(id);
    if (found == entries_.end()) _com_issue_error(E_ACCESSDENIED);
    return found->second.key;
}

LONG CStorageKeyMap::Count(const GUID& id) {
    tools::scoped_lock hold(lock_);
    auto found = entries_.find(id);
    return found == entries_.end() ? -1 : found->second.count;
}
