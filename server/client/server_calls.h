// The storage server's interface slots, each wrapped in a call that raises the COM error for a failing
// HRESULT (_com_issue_errorex, with the called object and the IID of the interface that declares the slot)
// and lets success codes such as S_FALSE pass. The wrappers are free functions, so the interfaces keep
// their own slot layout. Interfaces come back in owning holders (empty when the server gave none), texts
// as self-freeing BSTRs; a BSTR argument may be the NULL BSTR.
#pragma once
#include <windows.h>
#include <orrisafe.h>

#include <tools/auto_variant.h>
#include <tools/bstr.h>
#include <tools/interface_holder.h>

template <class I>
using server_ptr = tools::interface_holder<I>;

// IStorageServer
server_ptr<IStorageFolder> OpenStorageOrThrow(IStorageServer* server, const tools::bstr& path);
HRESULT CloseStorageOrThrow(IStorageServer* server, const tools::bstr& path);  // S_FALSE: it was not open
bool IsStorageOpenOrThrow(IStorageServer* server, const tools::bstr& path);
HRESULT DefragmentOrThrow(IStorageServer* server, const tools::bstr& path);
HRESULT WatchFileOrThrow(IStorageServer* server, const tools::bstr& path, bool watch);
long GetWatchStateOrThrow(IStorageServer* server, const tools::bstr& path);  // 0 watched, 2 not watched

// IStorageElement (folders and files are elements too)
long GetTypeOrThrow(IStorageElement* element);
tools::bstr GetNameOrThrow(IStorageElement* element);
ElementTimes GetTimesOrThrow(IStorageElement* element);
UINT64 GetSizeOrThrow(IStorageElement* element);
server_ptr<IStorageFolder> DetachParentOrThrow(IStorageElement* element);  // empty when none is held
tools::auto_variant GetStorageProperty(IStorageElement* element, const GUID& key);  // VT_EMPTY when absent
HRESULT SetPropertyOrThrow(IStorageElement* element, const GUID& key, const VARIANT& value);
HRESULT DeletePropertyOrThrow(IStorageElement* element, const GUID& key);

// IStorageFolder
bool IsRootOrThrow(IStorageFolder* folder);
server_ptr<IElementEnum> EnumElementsOrThrow(IStorageFolder* folder);
// create is passed on as given: only VARIANT_TRUE creates.
server_ptr<IStorageFolder> OpenFolderOrThrow(IStorageFolder* folder, const tools::bstr& name, VARIANT_BOOL create);
server_ptr<IStorageFile> OpenFileOrThrow(IStorageFolder* folder, const tools::bstr& name, VARIANT_BOOL create);
// The file of that name, or an empty holder when the folder has none (STG_E_FILENOTFOUND is an answer here, so no
// error information is asked for: that would be one more call to the server); any other failure raises.
server_ptr<IStorageFile> OpenExistingFileOrThrow(IStorageFolder* folder, const tools::bstr& name);
HRESULT RenameElementOrThrow(IStorageFolder* folder, const tools::bstr& old_name, const tools::bstr& new_name);
HRESULT DeleteElementOrThrow(IStorageFolder* folder, const tools::bstr& name);
// Nothing matching the path arrives as the COM error E_NOINTERFACE.
server_ptr<IStorageElement> FindElementOrThrow(IStorageFolder* folder, const tools::bstr& path);
server_ptr<IElementInfo> FindElementInfoOrThrow(IStorageFolder* folder, const tools::bstr& path);

// IStorageFile
HRESULT SetTimesOrThrow(IStorageFile* file, const ElementTimes& times);
server_ptr<IStream> GetStreamOrThrow(IStorageFile* file);
StreamDigest GetDigestOrThrow(IStorageFile* file);

// IElementEnum
server_ptr<IElementInfo> NextOrThrow(IElementEnum* elements);  // empty after the last child
HRESULT ResetOrThrow(IElementEnum* elements);

// IElementInfo
long GetTypeOrThrow(IElementInfo* info);
tools::bstr GetNameOrThrow(IElementInfo* info);
ElementTimes GetTimesOrThrow(IElementInfo* info);
UINT64 GetSizeOrThrow(IElementInfo* info);
