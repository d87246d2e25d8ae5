// Item IDs for tests that need no server: an element as the server would describe it, and its record.
#pragma once
#include <windows.h>
#include <string>
#include <orrisafe.h>

#include <doctest.h>
#include <shell/id_list.h>
#include <tools/com_error.h>
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

}  // namespace shell_testing

// Wide texts in failure reports.
template <>
struct doctest::StringMaker<std::wstring> {
    static doctest::String convert(const std::wstring& text) { return ("L\"" + tools::to_narrow(text) + "\"").c_str(); }
};
