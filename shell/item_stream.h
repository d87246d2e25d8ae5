// A file's contents between the shell and the server: an IStream over the server file's stream that carries
// the file's key and passes every read and write through a hook. The hooks leave the data as it is, so the
// contents are stored exactly as given. The wrapper counts its own references (a proxy's Release value says
// nothing about who else holds the stream) and holds the module lock while it lives.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <memory>

#include <tools/critical_section.h>
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
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;

    // From now on, sets *whole once the bytes from 0 to size have all been read through this stream (a size of 0:
    // at once). Only reads count, CopyTo's included, each from where it really started: a seek past what was read
    // leaves a gap that only reading it fills, and a read that failed, or a position no longer known, counts
    // nothing until a seek tells where the stream is. Costs a call on the inner stream now and one when the end
    // is reached, none per read. For a file handed out that a move may delete.
    void WatchReading(ULONGLONG size, std::shared_ptr<std::atomic<bool>> whole) noexcept;

    // The hooks: the bytes just read, in place; the bytes about to be written, with a substitute buffer
    // (CoTaskMemAlloc'd, freed after the write) when they are to be written otherwise. Both leave the data
    // as it is.
    virtual HRESULT OnRead(void* buffer, ULONG count) noexcept;
    virtual HRESULT OnWrite(const void* buffer, ULONG count, void** substitute) noexcept;

    const FileKey& Key() const noexcept { return file_key_; }

protected:
    IStream* inner() const noexcept override { return inner_.get(); }

private:
    struct reading_watch {
        tools::critical_section lock;  // a stream used from two threads at once still counts only real reads
        std::shared_ptr<std::atomic<bool>> whole;
        ULONGLONG size = 0;
        bool position_known = false;
        ULONGLONG position = 0;         // where the next read starts, while known
        ULONGLONG read_from_start = 0;  // every byte below it was read through this stream
    };
    // Counts a read of done bytes at the watched position.
    void CountRead(ULONG done) noexcept;
    // Takes back the last undelivered bytes counted as read: a CopyTo whose target refused them.
    void CountUndelivered(ULONG undelivered) noexcept;

    shell::CModuleLock module_lock_;
    tools::interface_holder<IStream> inner_;
    FileKey file_key_;
    std::unique_ptr<reading_watch> watch_;
};
