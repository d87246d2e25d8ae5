// Stands in for the security of a proxy that Wine's COM run time lacks: its proxies answer every IClientSecurity call with E_NOTIMPL.
#include "proxy_blanket.h"

#include <objbase.h>

#include "running_under_wine.h"

namespace platform {

HRESULT set_proxy_blanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level, DWORD impersonation,
                          RPC_AUTH_IDENTITY_HANDLE auth_info, DWORD capabilities) {
    HRESULT hr = CoSetProxyBlanket(proxy, authn, authz, principal, level, impersonation, auth_info, capabilities);
    return hr == E_NOTIMPL && running_under_wine() ? S_OK : hr;
}

}  // namespace platform
