// Stands in for Wine's IPropertySetStorage over a compound-file storage (its sets are written defectively).
#include "property_set_storage.h"
#include "com_unknown.h"
#include "property_set_name.h"
#include "property_storage.h"
#include "stat_enumerator.h"
#include <new>
#include <vector>

namespace platform {
namespace {

HRESULT read_stream(IStream* stream, std::vector<BYTE>& bytes) {
    STATSTG stat{};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    // A set stream is read whole; anything bigger is not a property set we could have written.
    if (stat.cbSize.QuadPart > largest_property_set) return STG_E_INVALIDHEADER;
    bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    ULONG read = 0;
    hr = bytes.empty() ? S_OK : stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    if (FAILED(hr)) return hr;
    bytes.resize(read);
    return S_OK;
}

class set_storage final : public com_unknown<IPropertySetStorage> {
public:
    explicit set_storage(IStorage* storage) : storage_(storage) { storage_->AddRef(); }
    ~set_storage() override { storage_->Release(); }

    STDMETHODIMP Create(REFFMTID fmtid, const CLSID* clsid, DWORD flags, DWORD mode, IPropertyStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        // Only simple sets, opened exclusively for writing, are kept here.
        if (flags & ~(PROPSETFLAG_ANSI | PROPSETFLAG_UNBUFFERED)) return STG_E_INVALIDFLAG;
        if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE || !(mode & (STGM_WRITE | STGM_READWRITE))) return STG_E_INVALIDFLAG;
        try {
            std::wstring name = property_set_stream_name(fmtid);
            IStream* stream = nullptr;
            HRESULT hr = storage_->CreateStream(name.c_str(), mode & (STGM_CREATE | 0x73 | STGM_TRANSACTED), 0, 0, &stream);
            if (FAILED(hr)) return hr;
            property_set_image image = new_property_set(fmtid, clsid ? *clsid : CLSID_NULL);
            if (flags & PROPSETFLAG_ANSI) image.code_page = GetACP();
            hr = write_property_set(stream, image);
            if (SUCCEEDED(hr)) hr = make_property_storage(stream, mode, std::move(image), out);
            stream->Release();
            if (FAILED(hr)) storage_->DestroyElement(name.c_str());
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP Open(REFFMTID fmtid, DWORD mode, IPropertyStorage** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE) return STG_E_INVALIDFLAG;
        try {
            std::wstring name = property_set_stream_name(fmtid);
            IStream* stream = nullptr;
            HRESULT hr = storage_->OpenStream(name.c_str(), nullptr, mode & (0x73 | STGM_TRANSACTED), 0, &stream);
            if (FAILED(hr)) return hr;
            std::vector<BYTE> bytes;
            property_set_image image;
            hr = read_stream(stream, bytes);
            if (SUCCEEDED(hr)) hr = parse_property_set(bytes.data(), bytes.size(), image);
            if (SUCCEEDED(hr) && !IsEqualGUID(image.fmtid, fmtid)) hr = STG_E_INVALIDHEADER;
            if (SUCCEEDED(hr)) hr = make_property_storage(stream, mode, std::move(image), out);
            stream->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP Delete(REFFMTID fmtid) override {
        try {
            return storage_->DestroyElement(property_set_stream_name(fmtid).c_str());
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP Enum(IEnumSTATPROPSETSTG** out) override {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        IEnumSTATSTG* elements = nullptr;
        HRESULT hr = storage_->EnumElements(0, nullptr, 0, &elements);
        if (FAILED(hr)) return hr;
        try {
            std::vector<STATPROPSETSTG> items;
            STATSTG stat{};
            while (elements->Next(1, &stat, nullptr) == S_OK) {
                STATPROPSETSTG item{};
                if (stat.type == STGTY_STREAM && property_set_fmtid(stat.pwcsName, &item.fmtid)) {
                    item.mtime = stat.mtime;
                    item.ctime = stat.ctime;
                    item.atime = stat.atime;
                    items.push_back(item);
                }
                CoTaskMemFree(stat.pwcsName);
            }
            elements->Release();
            elements = nullptr;
            *out = new stat_enumerator<IEnumSTATPROPSETSTG, STATPROPSETSTG>(std::move(items));
            return S_OK;
        } catch (const std::bad_alloc&) {
            if (elements) elements->Release();
            return E_OUTOFMEMORY;
        }
    }

private:
    IStorage* storage_;
};

}  // namespace

HRESULT property_set_storage(IStorage* storage, IPropertySetStorage** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!storage) return E_POINTER;
    try {
        *out = new set_storage(storage);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace platform
