// The security a client asks for on a proxy of the server: the service opens, watches and defragments a
// storage file as its caller, and on Windows a call made at the default identification level lets it
// identify the caller but open no file as that caller.
#pragma once
#include <windows.h>

// Asks for impersonation on the proxy: RPC_C_IMP_LEVEL_IMPERSONATE, authentication at connect level,
// default service and principal. An object that is no proxy (it lives in this apartment) needs none; any
// other failure is raised as the COM error with its HRESULT.
void AllowImpersonation(IUnknown* proxy);
