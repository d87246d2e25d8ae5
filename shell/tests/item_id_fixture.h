// Item IDs for tests that need no server: an element as the server would describe it, and its record.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include <objidl.h>
#include <orrisafe.h>

#include <doctest.h>
#include <shell/id_list.h>
#include <tools/com_error.h>
#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include <tools/text.h>

namespace shell_testing {

// An element as the server describes it; a type query that fails when asked to.
class info_stand_in final : public IElementInfo {
public:
    info_stand_in(std::wstring name, long type, UINT64 size, HRESULT type_result = S_OK)
        : name_(std::move(name)), type_(type), size_(size), type_result_(type_result) {}
    STDMETHODIMP QueryInterface(REFIID, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetType(long* type) override;
    STDMETHODIMP GetName(BSTR* name) override;
    STDMETHODIMP GetTimes(ElementTimes*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSize(UINT64* size) override;

private:
    std::wstring name_;
    long type_;
    UINT64 size_;
    HRESULT type_result_;
};

// The record the listing builds for such an element.
CIdList ItemIdOf(const std::wstring& name, long type, UINT64 size = 0);

// Records the change notifications the shell code sends while it lives, in place of the shell's own.
class notification_recorder {
public:
    notification_recorder();
    ~notification_recorder();
    notification_recorder(const notification_recorder&) = delete;
    notification_recorder& operator=(const notification_recorder&) = delete;
    // Each event with a copy of its first list (and of its second, when it has one).
    struct event {
        LONG id;
        CIdList first, second;
    };
    static std::vector<event> events;
};

// A data object that hands out one block of bytes as its "Shell IDList Array", and nothing else.
class id_array_data final : public tools::com_object<IDataObject> {
public:
    explicit id_array_data(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::vector<BYTE> bytes_;
};

// A "Shell IDList Array" block: the count, the offsets, then the lists (the parent first).
std::vector<BYTE> id_array(const std::vector<const ITEMIDLIST*>& lists);
// A selection of children of parent, as a view hands it to a command.
tools::interface_holder<IDataObject> SelectionOf(const ITEMIDLIST* parent, const std::vector<CIdList>& children);

}  // namespace shell_testing

// Wide texts in failure reports.
template <>
struct doctest::StringMaker<std::wstring> {
    static doctest::String convert(const std::wstring& text) { return ("L\"" + tools::to_narrow(text) + "\"").c_str(); }
};
