// A file's contents between the shell and the server: an IStream over the server file's stream that carries
// the file's key and passes every read and write through a hook. The hooks leave the data as it is, so the
// contents are stored exactly as given. The wrapper counts its own references (a proxy's Release value says
// nothing about who else holds the stream) and holds the module lock while it lives.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <tools/com_object.h>
#include <tools/interface_holder.h>

#include "content_key.h"
#include "module_lock.h"

class CItemStream : public tools::com_object<IStream> {
public:
    // Takes over the reference to inner that the caller holds.
    CItemStream(IStream* inner, const FileKey& file_key);

    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* read) override;
    STDMETHODIMP Write(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    STDMETHODIMP Commit(DWORD flags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
    // The inner stream's own clone, not wrapped.
    STDMETHODIMP Clone(IStream** clone) override;

    // The hooks: the bytes just read, in place; the bytes about to be written, with a substitute buffer
    // (CoTaskMemAlloc'd, freed after the write) when they are to be written otherwise. Both leave the data
    // as it is.
    virtual HRESULT OnRead(void* buffer, ULONG count) noexcept;
    virtual HRESULT OnWrite(const void* buffer, ULONG count, void** substitute) noexcept;

    const FileKey& Key() const noexcept { return file_key_; }

protected:
    void* query_own_interface(REFIID iid) override;

private:
    shell::CModuleLock module_lock_;
    tools::interface_holder<IStream> inner_;
    FileKey file_key_;
};
