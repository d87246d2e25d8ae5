// The file object: one compound-file stream that a client holds, with its contents as an IStream, its
// content digest and its times. It keeps its folder alive while it exists.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <string>
#include "element_object.h"
#include "element_store.h"

class CStorageObject;

class CStreamObject final : public CElementObject<IStorageFile> {
public:
    // A file object over stream, entered in folder's open-file map under name, with one reference for the
    // caller; null when it cannot be made.
    static CStreamObject* Create(StreamHolder stream, CStorageObject* folder, const std::wstring& name) noexcept;

    // Cuts every client off and closes what the object holds; it is freed at its last Release.
    void Disconnect() noexcept;

    STDMETHODIMP GetType(long* type) override;
    STDMETHODIMP SetTimes(ElementTimes times) override;
    STDMETHODIMP GetStream(IStream** stream) override;
    STDMETHODIMP GetDigest(StreamDigest* digest) override;

protected:
    HRESULT Stat(STATSTG* stat) override;
    CElementWrapper* Wrapper() noexcept override { return stream_.get(); }

private:
    CStreamObject(StreamHolder stream, CStorageObject* folder, std::wstring name);
    ~CStreamObject() override;
    // Leaves the folder's map, drops the stream and releases the folder.
    void CutOff() noexcept;

    CStorageObject* folder_;  // one reference while set
    StreamHolder stream_;
    std::wstring name_;
};
