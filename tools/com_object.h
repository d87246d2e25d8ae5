// The base of our own COM classes: an interlocked reference count and QueryInterface over the class's own
// interfaces and two per-object interface tables.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <cstring>
#include <map>
#include "interface_holder.h"

namespace tools {

struct guid_less {
    bool operator()(const GUID& a, const GUID& b) const noexcept { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

// The count is interlocked: a shell object is called from several of Explorer's threads, and a free-threaded
// marshaller or a proxy's release may arrive on any of them.
template <class Primary>
class com_object : public Primary {
public:
    // Table 0 hands out its pointers with a reference; table 1 hands them out as they are, without one,
    // so it may only hold private identity IIDs that no client can ever ask for.
    enum table : int { counted_table = 0, private_table = 1 };

    explicit com_object(REFIID primary_iid = __uuidof(Primary)) : primary_iid_(primary_iid) {}
    com_object(const com_object&) = delete;
    com_object& operator=(const com_object&) = delete;
    virtual ~com_object() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, primary_iid_)) {
            *out = static_cast<Primary*>(this);
            AddRef();
            return S_OK;
        }
        if (void* own = query_own_interface(iid)) {
            *out = own;
            AddRef();
            return S_OK;
        }
        auto found = tables_[counted_table].find(iid);
        if (found != tables_[counted_table].end()) {
            found->second->AddRef();
            *out = found->second;
            return S_OK;
        }
        found = tables_[private_table].find(iid);
        if (found != tables_[private_table].end()) {
            *out = found->second;
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&count_)); }

    STDMETHODIMP_(ULONG) Release() override {
        LONG count = InterlockedDecrement(&count_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    // Adds or replaces an entry of one of the two tables; the tables do not own their pointers.
    void map_interface(table which, REFIID iid, IUnknown* pointer) { tables_[which][iid] = pointer; }
    void unmap_interface(table which, REFIID iid) { tables_[which].erase(iid); }

    interface_holder<IUnknown>& member_interface() noexcept { return member_; }

protected:
    // A class with further interfaces of its own answers them here, in its fixed order, as the pointer
    // for that interface; the base adds the reference.
    virtual void* query_own_interface(REFIID) { return nullptr; }

private:
    IID primary_iid_;
    volatile LONG count_ = 1;
    interface_holder<IUnknown> member_;
    std::map<IID, IUnknown*, guid_less> tables_[2];
};

}  // namespace tools
