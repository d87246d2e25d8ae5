#include "stream_object.h"

#include <server/idl/storage_identities.h>
#include <tools/hresult.h>

#include <utility>

#include "hashed_element_name.h"
#include "bstr_text.h"
#include "storage_delegate.h"
#include "storage_object.h"
#include "stream_delegate.h"
#include "stream_digest.h"

CStreamObject::CStreamObject(StreamHolder stream, CStorageObject* folder, std::wstring name)
    : CElementObject<IStorageFile>(nullptr), folder_(folder), stream_(std::move(stream)), name_(std::move(name)) {
    folder_->AddRef();
}

CStreamObject::~CStreamObject() { CutOff(); }

CStreamObject* CStreamObject::Create(StreamHolder stream, CStorageObject* folder, const std::wstring& name) noexcept {
    CStreamObject* made = nullptr;
    try {
        made = new CStreamObject(std::move(stream), folder, name);
        folder->AddOpenFile(name, made);
        return made;
    } catch (...) {
        if (made) made->Release();
        return nullptr;
    }
}

void CStreamObject::CutOff() noexcept {
    CStorageObject* folder = std::exchange(folder_, nullptr);
    if (!folder) return;
    // Only this object's own entry goes: another file object may be open under the same name.
    folder->RemoveOpenFile(name_, this);
    stream_.release();
    folder->Release();
}

void CStreamObject::Disconnect() noexcept {
    AddRef();
    CoDisconnectObject(static_cast<IStorageFile*>(this), 0);
    CutOff();
    Release();
}

HRESULT CStreamObject::Stat(STATSTG* stat) {
    auto stream = CStreamDelegate::Make(stream_);
    if (!stream) return E_POINTER;
    return stream->Stat(stat, STATFLAG_DEFAULT);
}

STDMETHODIMP CStreamObject::GetType(long* type) {
    if (!type) return E_POINTER;
    *type = FileElementType;
    return S_OK;
}

STDMETHODIMP CStreamObject::SetTimes(ElementTimes times) {
    return Call([&]() -> HRESULT {
        auto storage = CStorageDelegate::Make(folder_->Storage());
        if (!storage) return E_POINTER;
        BSTR name = nullptr;
        HRESULT hr = GetName(&name);
        if (FAILED(hr)) return hr;
        std::wstring text = BstrText(name);
        SysFreeString(name);
        // The element is stored under the hash of its display name.
        return storage->SetElementTimes(HashedElementName(text).c_str(), &times.creation, &times.access,
                                        &times.modification);
    });
}

STDMETHODIMP CStreamObject::GetStream(IStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    return Call([&]() -> HRESULT {
        auto made = CStreamDelegate::Make(stream_);
        if (!made) return E_POINTER;
        *stream = made.detach();
        return S_OK;
    });
}

STDMETHODIMP CStreamObject::GetDigest(StreamDigest* digest) {
    if (!digest) return E_POINTER;
    *digest = GUID{};
    return Call([&]() -> HRESULT {
        auto stream = CStreamDelegate::Make(stream_);
        if (!stream) return E_POINTER;
        return ComputeStreamDigest(stream.get(), *digest);
    });
}
