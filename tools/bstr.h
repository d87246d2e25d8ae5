// A BSTR that frees itself: an argument made from text, or a result taken over from a call.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <new>
#include <string>
#include <utility>

namespace tools {

class bstr {
public:
    // The NULL BSTR, which the server reads as the empty text.
    bstr() noexcept = default;
    // Arguments convert from text; a null pointer stays the NULL BSTR.
    bstr(const std::wstring& text) : b_(allocate(text.data(), text.size())) {}
    bstr(const wchar_t* text) : b_(text ? allocate(text, wcslen(text)) : nullptr) {}
    // Takes over a BSTR that a call handed out, without copying it.
    static bstr attach(BSTR owned) noexcept {
        bstr b;
        b.b_ = owned;
        return b;
    }
    bstr(bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    bstr& operator=(bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(b_);
            b_ = std::exchange(other.b_, nullptr);
        }
        return *this;
    }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    ~bstr() { SysFreeString(b_); }

    operator BSTR() const noexcept { return b_; }
    // For out-parameters: frees what is held and hands out the slot.
    BSTR* put() noexcept {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    BSTR detach() noexcept { return std::exchange(b_, nullptr); }
    size_t length() const noexcept { return SysStringLen(b_); }
    // The whole text, embedded NULs included; empty for the NULL BSTR.
    std::wstring text() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

private:
    static BSTR allocate(const wchar_t* text, size_t length) {
        BSTR b = SysAllocStringLen(text, static_cast<UINT>(length));
        if (!b) throw std::bad_alloc();
        return b;
    }

    BSTR b_ = nullptr;
};

}  // namespace tools
