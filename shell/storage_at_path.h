// A storage file reached by its path through the server, for the commands on the file itself: its root folder,
// its installed key, and the shell told that its item changed.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <string>

#include <tools/auto_handle.h>
#include <tools/interface_holder.h>

namespace shell {

// The storage's root folder on the server, opened on a connection of its own that is released again. Failures
// throw the server's COM error.
tools::interface_holder<IStorageFolder> OpenStorageAtPath(const std::wstring& path);

// The storage's key certificate in the user's "MY" store; empty when it is not installed.
tools::auto_cert_context FindInstalledKeyAtPath(const std::wstring& path);

// Makes the shell read the storage file's item again (its overlays, its state): the file is announced as a
// folder removed and made anew. A path the shell cannot name is left alone.
void RefreshStorageItem(const std::wstring& path) noexcept;

}  // namespace shell
