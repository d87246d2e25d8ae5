#include "impersonation_blanket.h"

#include <objbase.h>

#include <platform/proxy_blanket.h>
#include <tools/com_error.h>

void AllowImpersonation(IUnknown* proxy) {
    HRESULT hr = platform::set_proxy_blanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, COLE_DEFAULT_PRINCIPAL,
                                             RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                             COLE_DEFAULT_AUTHINFO, EOAC_NONE);
    if (FAILED(hr) && hr != E_NOINTERFACE) _com_issue_error(hr);
}
