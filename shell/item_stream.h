// A file's contents between the shell and the server: an IStream over the server file's stream that carries
// the file's key and passes every read and write through a hook. The hooks leave the data as it is, so the
// contents are stored exactly as given. The wrapper counts its own references (a proxy's Release value says
// nothing about who else holds the stream) and holds the module lock while it lives.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <tools/forwarding_stream.h>
#include <tools/interface_holder.h>

#include "content_key.h"
#include "module_lock.h"

class CItemStream : public tools::forwarding_stream {
public:
    // Takes over the reference to inner that the caller holds.
    CItemStream(IStream* inner, const FileKey& file_key);

    // Reads and writes pass through the hooks; CopyTo reads through Read. Every other call goes to the
    // inner stream as it is, Clone handing out the inner stream's own clone.
    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* read) override;
    STDMETHODIMP Write(const void* buffer, ULONG count, ULONG* written) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;

    // The hooks: the bytes just read, in place; the bytes about to be written, with a substitute buffer
    // (CoTaskMemAlloc'd, freed after the write) when they are to be written otherwise. Both leave the data
    // as it is.
    virtual HRESULT OnRead(void* buffer, ULONG count) noexcept;
    virtual HRESULT OnWrite(const void* buffer, ULONG count, void** substitute) noexcept;

    const FileKey& Key() const noexcept { return file_key_; }

protected:
    IStream* inner() const noexcept override { return inner_.get(); }

private:
    shell::CModuleLock module_lock_;
    tools::interface_holder<IStream> inner_;
    FileKey file_key_;
};
