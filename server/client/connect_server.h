// A new connection to the storage server: its class object asked for in-process, local and remote server
// (COM starts the service on demand), then a root object that may impersonate its caller. Nothing is
// cached; every call connects anew.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <tools/interface_holder.h>

// A failure of either step is raised as the COM error with its HRESULT.
tools::interface_holder<IStorageServer> ConnectServer();
