#include "item_stream.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include <tools/com_error.h>

CItemStream::CItemStream(IStream* inner, const FileKey& file_key) : inner_(inner), file_key_(file_key) {
    if (!inner) _com_issue_error(E_POINTER);
}

STDMETHODIMP CItemStream::Read(void* buffer, ULONG count, ULONG* read) {
    std::optional<tools::scoped_lock> hold;
    if (watch_) hold.emplace(watch_->lock);
    // The hook gets the bytes really read, also when the caller does not ask how many they were.
    ULONG done = 0;
    HRESULT hr = inner_->Read(buffer, count, &done);
    if (FAILED(hr)) {
        // It may have moved the position by any part of the count.
        if (watch_) watch_->position_known = false;
        return hr;
    }
    hr = OnRead(buffer, done);
    if (FAILED(hr)) {
        // Back by what was just read, to where the caller was: asking for the position before every block
        // would cost a call to the server per block.
        if (done) {
            LARGE_INTEGER back;
            back.QuadPart = -static_cast<LONGLONG>(done);
            if (FAILED(inner_->Seek(back, STREAM_SEEK_CUR, nullptr)) && watch_) watch_->position_known = false;
        }
        return hr;
    }
    if (watch_) CountRead(done);
    if (read) *read = done;
    return hr;
}

STDMETHODIMP CItemStream::Write(const void* buffer, ULONG count, ULONG* written) {
    void* substitute = nullptr;
    HRESULT hr = OnWrite(buffer, count, &substitute);
    if (FAILED(hr)) return hr;
    hr = inner_->Write(substitute ? substitute : buffer, count, written);
    CoTaskMemFree(substitute);
    if (watch_) {
        // It moved the position, and fills in nothing that a reader received.
        tools::scoped_lock hold(watch_->lock);
        watch_->position_known = false;
    }
    return hr;
}

STDMETHODIMP CItemStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
    if (!watch_) return inner_->Seek(move, origin, position);
    tools::scoped_lock hold(watch_->lock);
    ULARGE_INTEGER at{};
    HRESULT hr = inner_->Seek(move, origin, &at);
    // Where a seek that failed left the position is not taken on trust.
    watch_->position_known = SUCCEEDED(hr);
    if (SUCCEEDED(hr)) {
        watch_->position = at.QuadPart;
        if (position) *position = at;
    }
    return hr;
}

STDMETHODIMP CItemStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
    if (!target) return STG_E_INVALIDPOINTER;
    BYTE chunk[4096];
    ULONGLONG left = count.QuadPart, total_read = 0, total_written = 0;
    HRESULT hr = S_OK;
    while (left > 0) {
        ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof chunk)), got = 0, put = 0;
        hr = Read(chunk, want, &got);
        if (hr != S_OK || got == 0) break;
        total_read += got;
        hr = target->Write(chunk, got, &put);
        total_written += put;
        // What the target did not take is no part of a whole read (a copy failing on a full disk).
        if (watch_ && (hr != S_OK || put < got)) CountUndelivered(got - std::min(put, got));
        if (hr != S_OK) break;
        left -= got;
    }
    if (read) read->QuadPart = total_read;
    if (written) written->QuadPart = total_written;
    return hr;
}

void CItemStream::WatchReading(ULONGLONG size, std::shared_ptr<std::atomic<bool>> whole) noexcept {
    auto watch = std::unique_ptr<reading_watch>(new (std::nothrow) reading_watch);
    if (!watch || !whole) return;
    // Where the stream starts: every stream of the file shares one position, so it need not be the start.
    ULARGE_INTEGER at{};
    watch->position_known = SUCCEEDED(inner_->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at));
    watch->position = at.QuadPart;
    watch->size = size;
    if (size == 0) whole->store(true);
    watch->whole = std::move(whole);
    watch_ = std::move(watch);
}

void CItemStream::CountRead(ULONG done) noexcept {
    reading_watch& watch = *watch_;
    if (!watch.position_known) return;
    const ULONGLONG start = watch.position;
    watch.position += done;
    if (start <= watch.read_from_start) watch.read_from_start = std::max(watch.read_from_start, watch.position);
    if (watch.read_from_start < watch.size || watch.whole->load()) return;
    // Others may move the shared position between two reads of this stream; only when it stands where these
    // reads left it did they read the bytes they were counted for. One call per stream, at its end.
    ULARGE_INTEGER at{};
    watch.position_known = SUCCEEDED(inner_->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &at));
    if (watch.position_known && at.QuadPart == watch.position) {
        watch.whole->store(true);
        return;
    }
    watch.position = at.QuadPart;
    watch.read_from_start = 0;
}

void CItemStream::CountUndelivered(ULONG undelivered) noexcept {
    tools::scoped_lock hold(watch_->lock);
    reading_watch& watch = *watch_;
    watch.whole->store(false);
    if (watch.position_known && watch.position >= undelivered)
        watch.read_from_start = std::min(watch.read_from_start, watch.position - undelivered);
    else
        watch.read_from_start = 0;
}

HRESULT CItemStream::OnRead(void*, ULONG) noexcept { return S_OK; }

HRESULT CItemStream::OnWrite(const void*, ULONG, void** substitute) noexcept {
    *substitute = nullptr;
    return S_OK;
}
