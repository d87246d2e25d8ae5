#include "item_stream.h"

#include <algorithm>

#include <tools/com_error.h>

CItemStream::CItemStream(IStream* inner, const FileKey& file_key) : inner_(inner), file_key_(file_key) {
    if (!inner) _com_issue_error(E_POINTER);
}

STDMETHODIMP CItemStream::Read(void* buffer, ULONG count, ULONG* read) {
    // The hook gets the bytes really read, also when the caller does not ask how many they were.
    ULONG done = 0;
    HRESULT hr = inner_->Read(buffer, count, &done);
    if (FAILED(hr)) return hr;
    hr = OnRead(buffer, done);
    if (FAILED(hr)) {
        // Back by what was just read, to where the caller was: asking for the position before every block
        // would cost a call to the server per block.
        if (done) {
            LARGE_INTEGER back;
            back.QuadPart = -static_cast<LONGLONG>(done);
            inner_->Seek(back, STREAM_SEEK_CUR, nullptr);
        }
        return hr;
    }
    if (read) *read = done;
    return hr;
}

STDMETHODIMP CItemStream::Write(const void* buffer, ULONG count, ULONG* written) {
    void* substitute = nullptr;
    HRESULT hr = OnWrite(buffer, count, &substitute);
    if (FAILED(hr)) return hr;
    hr = inner_->Write(substitute ? substitute : buffer, count, written);
    CoTaskMemFree(substitute);
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
        if (hr != S_OK) break;
        left -= got;
    }
    if (read) read->QuadPart = total_read;
    if (written) written->QuadPart = total_written;
    return hr;
}

HRESULT CItemStream::OnRead(void*, ULONG) noexcept { return S_OK; }

HRESULT CItemStream::OnWrite(const void*, ULONG, void** substitute) noexcept {
    *substitute = nullptr;
    return S_OK;
}
