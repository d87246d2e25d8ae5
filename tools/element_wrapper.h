// An opened element of a compound file (the root storage, a child storage or a stream) with its parent,
// giving access to the element's property set.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <propidl.h>
#include <string>
#include <server/idl/storage_identities.h>
#include "interface_holder.h"
#include "root_object.h"
#include "shared_holder.h"

// Element-level operations never throw: they return false and leave the failure in LastResult().
class CElementWrapper : public tools::root_object {
public:
    HRESULT LastResult() const noexcept { return last_result_; }
    void SetLastResult(HRESULT hr) noexcept { last_result_ = hr; }

    // The property sets that hold this element's set: a root's own, any other element's parent's.
    virtual tools::interface_holder<IPropertySetStorage> GetPropertySetStorage() = 0;
    // The FMTID of this element's set: GUID_NULL for a root, else its compound-file name parsed.
    virtual GUID GetFmtid() = 0;
    // The storage in which the set's stream lives, committed after each change.
    virtual IStorage* SetHolder() = 0;

    bool WriteProperty(const GUID& key, const VARIANT& value);
    bool ReadProperty(const GUID& key, VARIANT* out);
    bool ReadElementId(VARIANT* out) { return ReadProperty(ElementIdProperty, out); }
    bool DeleteProperty(const GUID& key);

protected:
    // Classifies the exception being handled into the last HRESULT; always false.
    bool fail() noexcept;

private:
    HRESULT last_result_ = S_OK;
};

class CStorageWrapper : public CElementWrapper {
public:
    using holder = tools::shared_holder<CStorageWrapper>;

    // Takes its own reference to storage; parent is empty for a root.
    CStorageWrapper(IStorage* storage, holder parent);

    // A new wrapper in its holder, knowing that holder's block so that children can count on it.
    static holder Make(IStorage* storage, holder parent);

    tools::interface_holder<IPropertySetStorage> GetPropertySetStorage() override;
    GUID GetFmtid() override;
    IStorage* SetHolder() override;

    IStorage* Storage() const noexcept { return storage_.get(); }
    void SetStorage(IStorage* storage) noexcept { storage_ = tools::interface_holder<IStorage>::add_ref(storage); }
    bool IsRoot() const noexcept { return !parent_.get(); }
    holder GetParent() const { return parent_; }
    // A counted reference to this wrapper (empty when it is not kept in a holder made by Make).
    holder Self() const noexcept { return holder::from_block(owner_); }
    void SetOwner(tools::shared_block* owner) noexcept { owner_ = owner; }

    // Commits this storage; the result becomes the last HRESULT.
    bool CommitStorage();

private:
    tools::shared_block* owner_ = nullptr;  // not counted
    holder parent_;
    tools::interface_holder<IStorage> storage_;  // released before the parent
};

class CStreamWrapper : public CElementWrapper {
public:
    using holder = tools::shared_holder<CStreamWrapper>;

    CStreamWrapper(IStream* stream, std::wstring name, CStorageWrapper::holder parent);

    tools::interface_holder<IPropertySetStorage> GetPropertySetStorage() override;
    GUID GetFmtid() override;
    IStorage* SetHolder() override;

    IStream* Stream() const noexcept { return stream_.get(); }
    const std::wstring& Name() const noexcept { return name_; }
    CStorageWrapper::holder GetParent() const { return parent_; }

private:
    std::wstring name_;
    CStorageWrapper::holder parent_;
    tools::interface_holder<IStream> stream_;  // released before the parent
};
