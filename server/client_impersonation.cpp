#include "client_impersonation.h"

#include <objbase.h>

#include <vector>

#include <tools/auto_handle.h>
#include <tools/com_error.h>
#include <tools/security.h>
#include <tools/win_except.h>

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

namespace {

FileSecurityReader read_security = tools::file_security;

}  // namespace

bool caller_may_read_and_write(const std::wstring& path) {
    client_impersonation as_caller;
    if (!as_caller.impersonating()) return true;
    HANDLE raw = nullptr;
    // Opened as the service: a caller at identification level may not open its own token.
    tools::check_win(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw));
    tools::auto_kernel_handle token(raw);
    // The file's security is read as the caller too: the service itself may be refused it (a share, where it acts
    // as the machine; an access list that leaves it out), while whoever may read the file may read its security.
    return token_may_read_and_write(token.get(), path);
}

bool token_may_read_and_write(HANDLE token, const std::wstring& path) {
    tools::byte_buffer descriptor;
    try {
        descriptor = read_security(path.c_str());
    } catch (const tools::win_except& e) {
        // Reading the file includes reading its security (READ_CONTROL): whoever may not, may not read the file.
        if (e.code() == ERROR_ACCESS_DENIED) return false;
        throw;
    }

    // What the server's open of a storage asks for: reading and writing the file.
    GENERIC_MAPPING files{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD wanted = GENERIC_READ | GENERIC_WRITE;
    MapGenericMask(&wanted, &files);
    std::vector<BYTE> privileges(sizeof(PRIVILEGE_SET) + 4 * sizeof(LUID_AND_ATTRIBUTES));
    for (;;) {
        DWORD privileges_size = static_cast<DWORD>(privileges.size());
        DWORD granted = 0;
        BOOL allowed = FALSE;
        if (AccessCheck(descriptor.data(), token, wanted, &files, reinterpret_cast<PRIVILEGE_SET*>(privileges.data()),
                        &privileges_size, &granted, &allowed))
            return allowed && (granted & wanted) == wanted;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || privileges_size <= privileges.size())
            tools::throw_last_error();
        privileges.resize(privileges_size);
    }
}

FileSecurityReader SetFileSecurityReader(FileSecurityReader reader) {
    FileSecurityReader before = read_security;
    read_security = reader ? reader : tools::file_security;
    return before;
}

}  // namespace server
