// An owning holder of one COM interface pointer, released on destruction.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <utility>

namespace tools {

template <class Interface = IUnknown>
class interface_holder {
public:
    interface_holder() noexcept = default;
    // Takes over a reference the caller already owns.
    explicit interface_holder(Interface* owned) noexcept : p_(owned) {}
    // Takes a reference of its own.
    static interface_holder add_ref(Interface* p) noexcept {
        if (p) p->AddRef();
        return interface_holder(p);
    }
    interface_holder(const interface_holder& other) noexcept : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    interface_holder(interface_holder&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    interface_holder& operator=(interface_holder other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~interface_holder() { reset(); }

    // Releases the held pointer; a fault inside a foreign Release is not ours to propagate.
    void reset(Interface* owned = nullptr) noexcept {
        Interface* old = std::exchange(p_, owned);
        if (old) {
            try {
                old->Release();
            } catch (...) {
            }
        }
    }
    Interface* get() const noexcept { return p_; }
    Interface* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    Interface** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    Interface* detach() noexcept { return std::exchange(p_, nullptr); }

private:
    Interface* p_ = nullptr;
};

}  // namespace tools
