// A BSTR argument that frees itself when the call that takes it is done.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

namespace tools {

class bstr {
public:
    explicit bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~bstr() { SysFreeString(b_); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

}  // namespace tools
