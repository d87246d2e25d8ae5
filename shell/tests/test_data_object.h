// A data object of the tests' own, as a source outside the storage would hand one over: blocks of bytes under
// clipboard formats, the "Shell IDList Array" of real files among them, and whatever a target stores with SetData.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <map>
#include <string>
#include <vector>

#include <tools/com_object.h>

namespace shell_testing {

class test_data_object final : public tools::com_object<IDataObject> {
public:
    // The "Shell IDList Array" of the files or folders at these paths (all in one folder).
    static tools::interface_holder<test_data_object> of_paths(const std::vector<std::wstring>& paths);

    void put(CLIPFORMAT format, std::vector<BYTE> bytes) { blocks_[format] = std::move(bytes); }
    void put(const wchar_t* format, std::vector<BYTE> bytes);
    bool has(const wchar_t* format) const;
    // The DWORD under the format; -1 when there is none.
    long dword(const wchar_t* format) const;

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::map<CLIPFORMAT, std::vector<BYTE>> blocks_;
};

CLIPFORMAT format_id(const wchar_t* name);

}  // namespace shell_testing
