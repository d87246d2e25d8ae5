#include "client_impersonation.h"

#include <objbase.h>

#include <tools/com_error.h>

namespace server {

client_impersonation::client_impersonation() {
    HRESULT hr = CoImpersonateClient();
    // No call in progress (or no COM on this thread at all): the caller is this process.
    if (hr == RPC_E_CALL_COMPLETE || hr == CO_E_NOTINITIALIZED) return;
    if (FAILED(hr)) _com_issue_error(hr);
    impersonating_ = true;
}

client_impersonation::~client_impersonation() {
    if (impersonating_) CoRevertToSelf();
}

}  // namespace server
