// Runs a block as the COM client whose call the server is serving, so that the service (LocalSystem)
// never opens a file the caller could not open itself, and judges what that caller may do with a file.
#pragma once
#include <windows.h>
#include <string>

#include <tools/text.h>

namespace server {

class client_impersonation {
public:
    // Impersonates the caller; a failure throws _com_error. A call made from inside this process, where
    // there is no client to impersonate, runs as the process.
    client_impersonation();
    ~client_impersonation();
    client_impersonation(const client_impersonation&) = delete;
    client_impersonation& operator=(const client_impersonation&) = delete;

    bool impersonating() const noexcept { return impersonating_; }

private:
    bool impersonating_ = false;
};

// Whether the caller of the call being served could open the file for reading and writing, as the server
// opens a storage: the caller's token against the file's security, which is read as the caller; a caller who
// may not read it may not. A call with no client to impersonate comes from this process, which opened the
// file itself, and may. Throws when the check cannot be made.
bool caller_may_read_and_write(const std::wstring& path);

// The same judgement for a token that access checks take (an impersonation token with TOKEN_QUERY), with the
// file's security read as the calling thread: false when the thread may not read it.
bool token_may_read_and_write(HANDLE token, const std::wstring& path);

// How the judgements read a file's security: tools::file_security, or a test's stand-in for a file whose
// security only some may read (Wine lets every token read every file's). Null puts the plain reader back.
// Returns the reader that was in place.
using FileSecurityReader = tools::byte_buffer (*)(const wchar_t* path);
FileSecurityReader SetFileSecurityReader(FileSecurityReader reader);

}  // namespace server
