// A VARIANT that clears itself, for results handed out by a call.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <cstring>

namespace tools {

class auto_variant {
public:
    auto_variant() noexcept { VariantInit(&v_); }
    auto_variant(auto_variant&& other) noexcept {
        std::memcpy(&v_, &other.v_, sizeof v_);
        VariantInit(&other.v_);
    }
    auto_variant& operator=(auto_variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            std::memcpy(&v_, &other.v_, sizeof v_);
            VariantInit(&other.v_);
        }
        return *this;
    }
    auto_variant(const auto_variant&) = delete;
    auto_variant& operator=(const auto_variant&) = delete;
    ~auto_variant() { VariantClear(&v_); }

    // For out-parameters: clears what is held (VT_EMPTY) and hands out the record.
    VARIANT* put() noexcept {
        VariantClear(&v_);
        return &v_;
    }
    const VARIANT& get() const noexcept { return v_; }
    const VARIANT* operator->() const noexcept { return &v_; }
    VARTYPE type() const noexcept { return v_.vt; }

private:
    VARIANT v_;
};

}  // namespace tools
