// Stands in for Wine's IPropertyStorage, whose writes corrupt VT_BOOL sets and whose failed commits are lost.
#include "property_storage.h"
#include "com_unknown.h"
#include "stat_enumerator.h"
#include <new>

namespace platform {
namespace {

bool same_name(const std::wstring& a, const wchar_t* b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

bool writable(DWORD mode) { return (mode & (STGM_WRITE | STGM_READWRITE)) != 0; }

LPWSTR co_copy(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy) memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

class property_storage final : public com_unknown<IPropertyStorage> {
public:
    property_storage(IStream* stream, DWORD mode, property_set_image image)
        : stream_(stream), mode_(mode), image_(std::move(image)) {
        stream_->AddRef();
    }
    ~property_storage() override { stream_->Release(); }

    STDMETHODIMP ReadMultiple(ULONG count, const PROPSPEC specs[], PROPVARIANT values[]) override {
        if (count && (!specs || !values)) return STG_E_INVALIDPARAMETER;
        try {
            bool any = false;
            for (ULONG i = 0; i < count; ++i) PropVariantInit(&values[i]);
            for (ULONG i = 0; i < count; ++i) {
                PROPID id = 0;
                HRESULT hr = S_OK;
                if (!find(specs[i], &id)) continue;
                if (id == code_page_propid) {
                    values[i].vt = VT_I2;
                    values[i].iVal = static_cast<SHORT>(image_.code_page);
                    any = true;
                    continue;
                }
                auto found = image_.values.find(id);
                if (found == image_.values.end()) continue;
                hr = decode_property_value(found->second, image_.code_page, &values[i]);
                if (FAILED(hr)) {
                    for (ULONG j = 0; j < i; ++j) PropVariantClear(&values[j]);
                    return hr;
                }
                any = true;
            }
            return any ? S_OK : S_FALSE;
        } catch (const std::bad_alloc&) {
            for (ULONG j = 0; j < count; ++j) PropVariantClear(&values[j]);
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP WriteMultiple(ULONG count, const PROPSPEC specs[], const PROPVARIANT values[], PROPID name_first) override {
        if (count && (!specs || !values)) return STG_E_INVALIDPARAMETER;
        if (!writable(mode_)) return STG_E_ACCESSDENIED;
        if (name_first < 2 || name_first >= first_reserved_propid) return STG_E_INVALIDPARAMETER;
        return change([&](property_set_image& image) -> HRESULT {
            for (ULONG i = 0; i < count; ++i) {
                PROPID id = 0;
                if (!find(image, specs[i], &id)) {
                    if (specs[i].ulKind != PRSPEC_LPWSTR || !specs[i].lpwstr || !*specs[i].lpwstr) return STG_E_INVALIDPARAMETER;
                    std::wstring name = specs[i].lpwstr;
                    if (!name_fits_code_page(name, image.code_page)) return STG_E_INVALIDPARAMETER;
                    id = free_propid(image, name_first);
                    if (!id) return STG_E_INSUFFICIENTMEMORY;
                    image.names[id] = name;
                }
                if (id == code_page_propid) {
                    // The code page is the set's own; only its present value may be written back.
                    if (values[i].vt != VT_I2 || static_cast<WORD>(values[i].iVal) != image.code_page) return STG_E_INVALIDPARAMETER;
                    continue;
                }
                if (id == dictionary_propid || id >= first_reserved_propid) return STG_E_INVALIDPARAMETER;
                std::vector<BYTE> encoded;
                HRESULT hr = encode_property_value(values[i], image.code_page, encoded);
                if (FAILED(hr)) return hr;
                image.values[id] = std::move(encoded);
            }
            return S_OK;
        });
    }

    STDMETHODIMP DeleteMultiple(ULONG count, const PROPSPEC specs[]) override {
        if (count && !specs) return STG_E_INVALIDPARAMETER;
        if (!writable(mode_)) return STG_E_ACCESSDENIED;
        return change([&](property_set_image& image) -> HRESULT {
            for (ULONG i = 0; i < count; ++i) {
                PROPID id = 0;
                if (specs[i].ulKind == PRSPEC_PROPID && (specs[i].propid == dictionary_propid || specs[i].propid == code_page_propid))
                    return STG_E_INVALIDPARAMETER;
                if (find(image, specs[i], &id)) image.values.erase(id);
            }
            return S_OK;
        });
    }

    STDMETHODIMP ReadPropertyNames(ULONG count, const PROPID ids[], LPOLESTR names[]) override {
        if (count && (!ids || !names)) return STG_E_INVALIDPARAMETER;
        for (ULONG i = 0; i < count; ++i) names[i] = nullptr;
        bool any = false;
        for (ULONG i = 0; i < count; ++i) {
            auto found = image_.names.find(ids[i]);
            if (found == image_.names.end()) continue;
            names[i] = co_copy(found->second);
            if (!names[i]) {
                for (ULONG j = 0; j < i; ++j) CoTaskMemFree(names[j]), names[j] = nullptr;
                return E_OUTOFMEMORY;
            }
            any = true;
        }
        return any ? S_OK : S_FALSE;
    }

    STDMETHODIMP WritePropertyNames(ULONG count, const PROPID ids[], const LPOLESTR names[]) override {
        if (count && (!ids || !names)) return STG_E_INVALIDPARAMETER;
        if (!writable(mode_)) return STG_E_ACCESSDENIED;
        return change([&](property_set_image& image) -> HRESULT {
            for (ULONG i = 0; i < count; ++i) {
                if (ids[i] == dictionary_propid || ids[i] == code_page_propid || ids[i] >= first_reserved_propid)
                    return STG_E_INVALIDPARAMETER;
                if (!names[i] || !*names[i]) return STG_E_INVALIDPARAMETER;
                std::wstring name = names[i];
                if (!name_fits_code_page(name, image.code_page)) return STG_E_INVALIDPARAMETER;
                for (const auto& [other, other_name] : image.names)
                    if (other != ids[i] && same_name(other_name, names[i])) return STG_E_INVALIDPARAMETER;
                image.names[ids[i]] = name;
            }
            return S_OK;
        });
    }

    STDMETHODIMP DeletePropertyNames(ULONG count, const PROPID ids[]) override {
        if (count && !ids) return STG_E_INVALIDPARAMETER;
        if (!writable(mode_)) return STG_E_ACCESSDENIED;
        return change([&](property_set_image& image) -> HRESULT {
            for (ULONG i = 0; i < count; ++i) image.names.erase(ids[i]);
            return S_OK;
        });
    }

    // Every change is already in the stream; committing it is the stream's (and its storage's) part.
    STDMETHODIMP Commit(DWORD flags) override { return writable(mode_) ? stream_->Commit(flags) : S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }

    STDMETHODIMP Enum(IEnumSTATPROPSTG** out) override {
        if (!out) return STG_E_INVALIDPARAMETER;
        *out = nullptr;
        std::vector<STATPROPSTG> items;
        try {
            for (const auto& [id, value] : image_.values) {
                if (id < 2 || id >= first_reserved_propid) continue;
                STATPROPSTG item{};
                item.propid = id;
                item.vt = static_cast<VARTYPE>(value[0] | (value[1] << 8));
                auto name = image_.names.find(id);
                if (name != image_.names.end()) {
                    item.lpwstrName = co_copy(name->second);
                    if (!item.lpwstrName) throw std::bad_alloc();
                }
                try {
                    items.push_back(item);
                } catch (...) {
                    CoTaskMemFree(item.lpwstrName);
                    throw;
                }
            }
            *out = new stat_enumerator<IEnumSTATPROPSTG, STATPROPSTG>(std::move(items));
            return S_OK;
        } catch (const std::bad_alloc&) {
            for (auto& item : items) CoTaskMemFree(item.lpwstrName);
            return E_OUTOFMEMORY;
        }
    }

    // A simple set has no place for times of its own: they are the stream's.
    STDMETHODIMP SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override { return STG_E_UNIMPLEMENTEDFUNCTION; }

    STDMETHODIMP SetClass(REFCLSID clsid) override {
        if (!writable(mode_)) return STG_E_ACCESSDENIED;
        return change([&](property_set_image& image) -> HRESULT {
            image.clsid = clsid;
            return S_OK;
        });
    }

    STDMETHODIMP Stat(STATPROPSETSTG* out) override {
        if (!out) return STG_E_INVALIDPARAMETER;
        *out = STATPROPSETSTG{};
        out->fmtid = image_.fmtid;
        out->clsid = image_.clsid;
        out->grfFlags = image_.code_page == 1200 ? PROPSETFLAG_DEFAULT : PROPSETFLAG_ANSI;
        out->dwOSVersion = image_.os_version;
        STATSTG stat{};
        if (SUCCEEDED(stream_->Stat(&stat, STATFLAG_NONAME))) {
            out->mtime = stat.mtime;
            out->ctime = stat.ctime;
            out->atime = stat.atime;
        }
        return S_OK;
    }

private:
    bool find(const PROPSPEC& spec, PROPID* id) const { return find(image_, spec, id); }

    static bool find(const property_set_image& image, const PROPSPEC& spec, PROPID* id) {
        if (spec.ulKind == PRSPEC_PROPID) {
            *id = spec.propid;
            return true;
        }
        if (spec.ulKind != PRSPEC_LPWSTR || !spec.lpwstr) return false;
        for (const auto& [key, name] : image.names)
            if (same_name(name, spec.lpwstr)) {
                *id = key;
                return true;
            }
        return false;
    }

    static PROPID free_propid(const property_set_image& image, PROPID first) {
        for (PROPID id = first; id < first_reserved_propid; ++id)
            if (!image.names.count(id) && !image.values.count(id)) return id;
        return 0;
    }

    // Applies an edit to a copy, writes the copy through, and keeps it only when all of that worked.
    template <class Edit>
    HRESULT change(Edit edit) {
        try {
            property_set_image next = image_;
            HRESULT hr = edit(next);
            if (FAILED(hr)) return hr;
            hr = write_property_set(stream_, next);
            if (FAILED(hr)) {
                // A write cut short (a full disk) leaves part of the new set over the old: put the old one
                // back, which fits where it stood, so that the set stays readable.
                write_property_set(stream_, image_);
                return hr;
            }
            image_ = std::move(next);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    IStream* stream_;
    DWORD mode_;
    property_set_image image_;
};

}  // namespace

HRESULT write_property_set(IStream* stream, const property_set_image& image) {
    std::vector<BYTE> bytes = serialize_property_set(image);
    // A set that could not be read back would lose every property in it.
    if (bytes.size() > largest_property_set) return STG_E_DOCFILETOOLARGE;
    LARGE_INTEGER zero{};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    ULONG written = 0;
    hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr)) return hr;
    if (written != bytes.size()) return STG_E_MEDIUMFULL;
    ULARGE_INTEGER size;
    size.QuadPart = bytes.size();
    hr = stream->SetSize(size);
    if (FAILED(hr)) return hr;
    return stream->Commit(STGC_DEFAULT);
}

HRESULT make_property_storage(IStream* stream, DWORD mode, property_set_image image, IPropertyStorage** out) {
    if (!out) return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (!stream) return E_POINTER;
    try {
        *out = new property_storage(stream, mode, std::move(image));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace platform
