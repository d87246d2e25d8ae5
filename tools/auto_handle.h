// The owning holder of one system handle, with its duplicate and free policies.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <winsvc.h>
#include <concepts>
#include <utility>

namespace tools {

// A policy names the value type and frees a value; one that can also duplicate has `duplicate`,
// which throws tools::win_except when the system call fails.
template <class Policy>
concept duplicable_policy = requires(typename Policy::value_type v) {
    { Policy::duplicate(v) } -> std::same_as<typename Policy::value_type>;
};

template <class Policy>
class auto_handle {
public:
    using value_type = typename Policy::value_type;
    using free_result = decltype(Policy::free(std::declval<value_type>()));

    auto_handle() noexcept = default;
    // Takes over a raw value without duplicating it.
    explicit auto_handle(value_type raw) noexcept : value_(raw) {}

    auto_handle(const auto_handle& other) requires duplicable_policy<Policy>
        : value_(other.value_ ? Policy::duplicate(other.value_) : value_type{}) {}
    auto_handle(auto_handle&& other) noexcept : value_(std::exchange(other.value_, value_type{})) {}

    auto_handle& operator=(const auto_handle& other) requires duplicable_policy<Policy> {
        if (this == &other) return *this;  // freeing first would lose the value we are about to copy
        reset();
        if (other.value_) value_ = Policy::duplicate(other.value_);
        return *this;
    }
    auto_handle& operator=(auto_handle&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, value_type{});
        }
        return *this;
    }

    ~auto_handle() { reset(); }

    void reset() noexcept {
        if (value_) Policy::free(std::exchange(value_, value_type{}));
    }

    // Frees the value and hands back what the free call said; the holder is empty afterwards.
    free_result release() noexcept {
        if (!value_) return free_result{};
        return Policy::free(std::exchange(value_, value_type{}));
    }

    // Frees the held value, then owns raw as it is.
    void take_over(value_type raw) noexcept {
        if (raw == value_) return;
        reset();
        value_ = raw;
    }

    // Gives up ownership without freeing, for calls that consume the handle themselves.
    value_type detach() noexcept { return std::exchange(value_, value_type{}); }

    value_type get() const noexcept { return value_; }
    bool empty() const noexcept { return !value_; }
    explicit operator bool() const noexcept { return value_ != value_type{}; }

private:
    value_type value_{};
};

struct cert_context_policy {
    using value_type = PCCERT_CONTEXT;
    static PCCERT_CONTEXT duplicate(PCCERT_CONTEXT v);
    static BOOL free(PCCERT_CONTEXT v) noexcept;
};
struct cert_store_policy {
    using value_type = HCERTSTORE;
    static HCERTSTORE duplicate(HCERTSTORE v);
    static BOOL free(HCERTSTORE v) noexcept;
};
struct cert_chain_policy {
    using value_type = PCCERT_CHAIN_CONTEXT;
    static PCCERT_CHAIN_CONTEXT duplicate(PCCERT_CHAIN_CONTEXT v);
    static BOOL free(PCCERT_CHAIN_CONTEXT v) noexcept;
};
// The same provider handle, with one more reference.
struct crypt_prov_policy {
    using value_type = HCRYPTPROV;
    static HCRYPTPROV duplicate(HCRYPTPROV v);
    static BOOL free(HCRYPTPROV v) noexcept;
};
struct crypt_key_policy {
    using value_type = HCRYPTKEY;
    static HCRYPTKEY duplicate(HCRYPTKEY v);
    static BOOL free(HCRYPTKEY v) noexcept;
};
// A copy is a new block of the same size and flags; the contents are not copied.
struct local_memory_policy {
    using value_type = HLOCAL;
    static HLOCAL duplicate(HLOCAL v);
    static HLOCAL free(HLOCAL v) noexcept;
};
// A copy is a second, inheritable handle to the same object. INVALID_HANDLE_VALUE is not empty:
// test a CreateFile result before handing it over.
struct kernel_handle_policy {
    using value_type = HANDLE;
    static HANDLE duplicate(HANDLE v);
    static BOOL free(HANDLE v) noexcept;
};
struct reg_key_policy {
    using value_type = HKEY;
    static LONG free(HKEY v) noexcept;
};
struct service_handle_policy {
    using value_type = SC_HANDLE;
    static BOOL free(SC_HANDLE v) noexcept;
};
struct icon_policy {
    using value_type = HICON;
    static HICON duplicate(HICON v);
    static BOOL free(HICON v) noexcept;
};

using auto_cert_context = auto_handle<cert_context_policy>;
using auto_cert_store = auto_handle<cert_store_policy>;
using auto_cert_chain = auto_handle<cert_chain_policy>;
using auto_crypt_prov = auto_handle<crypt_prov_policy>;
using auto_crypt_key = auto_handle<crypt_key_policy>;
using auto_local_memory = auto_handle<local_memory_policy>;
using auto_kernel_handle = auto_handle<kernel_handle_policy>;
using auto_reg_key = auto_handle<reg_key_policy>;
using auto_service_handle = auto_handle<service_handle_policy>;
using auto_icon = auto_handle<icon_policy>;

}  // namespace tools
