#include "auto_handle.h"
#include "win_except.h"

#include <shellapi.h>

namespace tools {

PCCERT_CONTEXT cert_context_policy::duplicate(PCCERT_CONTEXT v) {
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(v);
    if (!copy) throw_last_error();
    return copy;
}
BOOL cert_context_policy::free(PCCERT_CONTEXT v) noexcept { return CertFreeCertificateContext(v); }

HCERTSTORE cert_store_policy::duplicate(HCERTSTORE v) {
    HCERTSTORE copy = CertDuplicateStore(v);
    if (!copy) throw_last_error();
    return copy;
}
BOOL cert_store_policy::free(HCERTSTORE v) noexcept { return CertCloseStore(v, 0); }

PCCERT_CHAIN_CONTEXT cert_chain_policy::duplicate(PCCERT_CHAIN_CONTEXT v) {
    PCCERT_CHAIN_CONTEXT copy = CertDuplicateCertificateChain(v);
    if (!copy) throw_last_error();
    return copy;
}
BOOL cert_chain_policy::free(PCCERT_CHAIN_CONTEXT v) noexcept {
    CertFreeCertificateChain(v);
    return TRUE;
}

HCRYPTPROV crypt_prov_policy::duplicate(HCRYPTPROV v) {
    check_win(CryptContextAddRef(v, nullptr, 0));
    return v;
}
BOOL crypt_prov_policy::free(HCRYPTPROV v) noexcept { return CryptReleaseContext(v, 0); }

HCRYPTKEY crypt_key_policy::duplicate(HCRYPTKEY v) {
    HCRYPTKEY copy = 0;
    check_win(CryptDuplicateKey(v, nullptr, 0, &copy));
    return copy;
}
BOOL crypt_key_policy::free(HCRYPTKEY v) noexcept { return CryptDestroyKey(v); }

HLOCAL local_memory_policy::duplicate(HLOCAL v) {
    UINT flags = LocalFlags(v);
    if (flags == LMEM_INVALID_HANDLE) throw_last_error();
    SIZE_T size = LocalSize(v);
    // The low byte of LocalFlags is the lock count, not an allocation flag.
    HLOCAL copy = LocalAlloc(flags & ~static_cast<UINT>(LMEM_LOCKCOUNT), size);
    if (!copy) throw_last_error();
    return copy;
}
HLOCAL local_memory_policy::free(HLOCAL v) noexcept { return LocalFree(v); }

HANDLE kernel_handle_policy::duplicate(HANDLE v) {
    HANDLE copy = nullptr;
    check_win(DuplicateHandle(GetCurrentProcess(), v, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS));
    return copy;
}
BOOL kernel_handle_policy::free(HANDLE v) noexcept { return CloseHandle(v); }

LONG reg_key_policy::free(HKEY v) noexcept { return RegCloseKey(v); }

BOOL service_handle_policy::free(SC_HANDLE v) noexcept { return CloseServiceHandle(v); }

HICON icon_policy::duplicate(HICON v) {
    HICON copy = DuplicateIcon(nullptr, v);
    if (!copy) throw_last_error();
    return copy;
}
BOOL icon_policy::free(HICON v) noexcept { return DestroyIcon(v); }

}  // namespace tools
