// The process's table of unlocked content keys, keyed by storage identifier. A storage's entry is made when
// a folder first unlocks it, counted up and down by the folders that use it, and erased only on purpose
// (freezing the storage, deleting its installed key) or at process end. Any thread may use it; one lock
// guards every operation.
#pragma once
#include <windows.h>
#include <map>

#include <tools/auto_handle.h>
#include <tools/com_object.h>
#include <tools/critical_section.h>

#include "content_key.h"

class CStorageKeyMap {
public:
    // The one map of the process, made on first use.
    static CStorageKeyMap& Instance();

    // Enters the storage's key with count 1, taking over the key and the certificate it was unlocked with
    // (which is freed with the entry). A storage already present throws win_except(ERROR_ALREADY_INITIALIZED).
    void Register(const GUID& id, ContentKey key, tools::auto_cert_context key_certificate);
    bool Contains(const GUID& id);
    // Count up or down; an absent storage is left alone, and a count of 0 keeps the entry.
    void AddRef(const GUID& id);
    void Release(const GUID& id);
    // Erases the entry whatever its count; an absent storage is left alone.
    void Remove(const GUID& id);
    // A copy of the key; a storage that is not unlocked raises the COM error E_ACCESSDENIED.
    ContentKey Find(const GUID& id);
    // The entry's count, -1 when absent.
    LONG Count(const GUID& id);

private:
    struct Entry {
        volatile LONG count = 0;
        ContentKey key;
        tools::auto_cert_context key_certificate;
    };

    tools::critical_section lock_;
    std::map<GUID, Entry, tools::guid_less> entries_;
};
