// Stands in for the security of a proxy that Wine's COM run time lacks: its proxies answer every IClientSecurity call with E_NOTIMPL.
#pragma once
#include <windows.h>

namespace platform {

// CoSetProxyBlanket with the same arguments. Under Wine a proxy keeps no security and a server's
// impersonation of its caller does nothing, so the stub's E_NOTIMPL there means that nothing needs to be set:
// S_OK. Every other answer, and every answer on Windows, is the platform's own.
HRESULT set_proxy_blanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level, DWORD impersonation,
                          RPC_AUTH_IDENTITY_HANDLE auth_info, DWORD capabilities);

}  // namespace platform
