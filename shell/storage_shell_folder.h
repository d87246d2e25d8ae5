// The namespace folder that shows the inside of a storage file, or of a folder element inside it, as a browsable
// folder of the shell. One object serves one level: the class factory makes the folder of a storage file, which
// IPersistFolder::Initialize binds to the file's ID list; BindToObject makes the deeper levels. Every question
// about elements goes to the storage server, on the worker thread that owns the connection or through a proxy of
// the calling thread; items are our own item IDs.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <orrisafe.h>
#include <vector>

#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "content_key.h"
#include "cross_thread_call.h"
#include "id_list.h"
#include "module_lock.h"

class CStorageShellFolder : public tools::com_object<IShellFolder2>,
                            public IPersistFolder2,
                            public IObjectWithSite,
                            public IContextMenu,
                            public IDropTarget {
public:
    // The folder of a storage file (root) that the class factory makes.
    CStorageShellFolder();
    // A folder element inside a storage, below the storage file's ID list, made by its parent folder with what
    // the parent knows of the storage (its root folder on the server, on which a reference is taken on the worker,
    // and its identifier).
    CStorageShellFolder(const GUID& storage_id, IStorageFolder* root_server_folder, const ITEMIDLIST* storage_root);
    ~CStorageShellFolder() override;

    // The interfaces the folder answers besides IUnknown, in the order registration lists them (the menus and the drop
    // target join them with their own code).
    static std::vector<IID> Interfaces();

    // IUnknown, one for all the folder's interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return com_object::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return com_object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return com_object::Release(); }

    // IPersist, IPersistFolder, IPersistFolder2
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE absolute) override;
    STDMETHODIMP GetCurFolder(PIDLIST_ABSOLUTE* out) override;

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND window, IBindCtx* context, LPWSTR text, ULONG* eaten, PIDLIST_RELATIVE* out,
                                  ULONG* attributes) override;
    STDMETHODIMP EnumObjects(HWND window, SHCONTF flags, IEnumIDList** out) override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE item, IBindCtx* context, REFIID iid, void** out) override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE item, IBindCtx* context, REFIID iid, void** out) override;
    STDMETHODIMP CompareIDs(LPARAM how, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override;
    STDMETHODIMP CreateViewObject(HWND owner, REFIID iid, void** out) override;
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items, SFGAOF* flags) override;
    STDMETHODIMP GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid, UINT* reserved,
                               void** out) override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* out) override;
    STDMETHODIMP SetNameOf(HWND window, PCUITEMID_CHILD item, LPCWSTR name, SHGDNF flags, PITEMID_CHILD* out) override;

    // IShellFolder2
    STDMETHODIMP GetDefaultSearchGUID(GUID* out) override;
    STDMETHODIMP EnumSearches(IEnumExtraSearch** out) override;
    STDMETHODIMP GetDefaultColumn(DWORD reserved, ULONG* sort, ULONG* display) override;
    STDMETHODIMP GetDefaultColumnState(UINT column, SHCOLSTATEF* flags) override;
    STDMETHODIMP GetDetailsEx(PCUITEMID_CHILD item, const SHCOLUMNID* column, VARIANT* out) override;
    STDMETHODIMP GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* out) override;
    STDMETHODIMP MapColumnToSCID(UINT column, SHCOLUMNID* out) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** out) override;

    // IContextMenu: the background menu (New Folder, and the shell's "paste" verb).
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, LPSTR buffer, UINT size) override;

    // IDropTarget: shell items dragged from outside any storage are transferred into this folder.
    STDMETHODIMP DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragOver(DWORD keys, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

    // The folder object behind a shell folder interface, when it is one of ours; empty otherwise.
    static tools::interface_holder<CStorageShellFolder> FromShellFolder(IUnknown* folder);

    // Binds the folder to the worker thread (starting it when needed); Initialize does this before OpenStorage.
    void BindToWorker();

    // Opens the folder's element on the server, once: a second call returns S_OK and keeps the first list.
    // Runs on the worker (forwarded there from other threads). Failures come back as the HRESULT; a root
    // folder that cannot reach the server also shows the "server was not found" box. A storage file's content
    // key is unlocked here; a storage that no key unlocks still opens, and the operations that need its key
    // fail with E_ACCESSDENIED.
    HRESULT OpenStorage(const ITEMIDLIST* absolute);

    // The storage's identifier: handed down to a sub-folder, read once from the storage by a root folder.
    GUID GetFolderStorageId();
    // The storage's unlocked content key; the COM error E_ACCESSDENIED while it is not unlocked.
    ContentKey GetStorageKey();

    // The folder's server folder as an interface usable on the calling thread: the worker's own, a proxy kept
    // for the thread that made the folder, or a new proxy for any other thread. No server folder: the COM
    // error E_NOINTERFACE.
    tools::interface_holder<IStorageFolder> GetServer();

    // Lets go of what the folder holds, once its view is gone: the reference on its storage's content key, its
    // ID lists, its site and its server folders (released on the worker). Each step ignores its own failure; the
    // destructor runs it too, and a step already done is not done again.
    void CloseFolder() noexcept;

    bool IsRoot() const noexcept { return root_; }
    bool HasSite() const noexcept { return static_cast<bool>(site_); }
    // The folder's full ID list once it is open, else null.
    const ITEMIDLIST* AbsoluteIdList() const noexcept { return absolute_.get(); }
    // The ID list of the storage file: a root folder's own list, a sub-folder's inherited one.
    const ITEMIDLIST* StorageRootIdList() const noexcept { return root_ ? absolute_.get() : storage_root_.get(); }
    bool HoldsKeyReference() const noexcept { return holds_key_reference_ != 0; }
    // The window that owns the folder's boxes: the one given, else the window of the site's browser, else the
    // calling thread's active window.
    HWND GetFolderOwnerWindow(HWND window);
    // The site's browser when there is a site, else the window's; its active view is refreshed.
    void RefreshView(HWND window);
    // The browser that shows the folder: the site's when there is a site, else the one the owner window answers with.
    tools::interface_holder<IShellBrowser> GetBrowser(HWND window);
    // The full list of an item of this folder (the folder's own list followed by item); E_FAIL before it is open.
    CIdList FullIdListOf(const ITEMIDLIST* item) const;

    // The first command identifier the shell gave the item menu at its last merge.
    UINT FirstItemCommand() const noexcept { return first_item_command_; }
    void SetFirstItemCommand(UINT first) noexcept { first_item_command_ = first; }

protected:
    void* query_own_interface(REFIID iid) override;

    HRESULT OpenStorageOnWorker(const ITEMIDLIST* absolute);
    tools::interface_holder<IStorageFolder> OpenRootOnWorker(const ITEMIDLIST* absolute, bool& unreachable);
    tools::interface_holder<IStorageFolder> OpenSubFolderOnWorker(const ITEMIDLIST* absolute);
    tools::interface_holder<IStorageFolder> UnmarshalServerFolder();
    HRESULT ItemMenu(HWND window, UINT count, PCUITEMID_CHILD_ARRAY items, void** out);
    HRESULT ItemsDataObject(UINT count, PCUITEMID_CHILD_ARRAY items, void** out);
    void RenameItem(HWND window, const ITEMIDLIST* item, const wchar_t* name, SHGDNF flags, ITEMIDLIST** out);

    // First, so that it is given back last, after everything else of the folder is gone.
    shell::CModuleLock module_lock_;
    const bool root_;
    DWORD owner_thread_id_ = shell::unbound_thread_id;
    tools::interface_holder<IStorageFolder> server_folder_;
    CIdList absolute_;
    GUID storage_id_cache_ = GUID_NULL;
    GUID inherited_storage_id_ = GUID_NULL;
    tools::interface_holder<IStorageFolder> root_server_folder_;
    CIdList storage_root_;
    const DWORD creating_thread_id_;
    tools::interface_holder<IStorageFolder> creating_thread_proxy_;
    tools::interface_holder<IUnknown> site_;
    volatile LONG holds_key_reference_ = 0;
    // The data of the drag in progress, whether it may be dropped here, and the effect last proposed for it (before
    // it is limited to what the source allows).
    tools::interface_holder<IDataObject> drop_data_;
    bool drop_entered_ = false;
    bool drop_accepted_ = false;
    DWORD drop_effect_ = DROPEFFECT_NONE;
    UINT first_item_command_ = 0;
};

// A new folder of a storage file with one reference, as the class factory hands it out; interfaces, when given,
// receives what registration records for the class (the folder's interfaces, then IUnknown).
IUnknown* CreateStorageShellFolder(std::vector<IID>* interfaces);

// The folder's four columns: title, width in characters.
struct FolderColumn {
    const char* title;
    int width;
};
inline constexpr FolderColumn folder_columns[] = {{"Name", 40}, {"Size", 10}, {"Type", 20}, {"Comment", 40}};

// The texts of the folder's columns for one item.
// Files: the size in kilobytes, 0 for an empty file, 1 up to 1024 bytes, else size / 1024 + 1, and " Kb".
std::wstring SizeColumnText(ULONGLONG size);
// The element's comment as the column shows it: empty without one; longer than 100 characters cut to 97 and
// "..."; line breaks as blanks. The comment is deciphered with the storage's key.
std::wstring GetCommentColumnText(CStorageShellFolder& folder, IStorageElement* element);
// The type text of an item's record: a folder's or its file name's.
std::wstring ItemRecordTypeText(const struct StorageItem& item);

// The attribute masks GetAttributesOf keeps for folders and for anything else.
inline constexpr SFGAOF folder_item_attributes = 0xA8000173;
inline constexpr SFGAOF file_item_attributes = 0x00000073;

// The box a root folder shows when the server cannot be reached.
inline constexpr wchar_t server_not_found_text[] =
    L"Unable to open storage. Orrisafe RPC server was not found.\n\nPlease restart the computer. If the same error "
    L"will occur again then try to reinstall the program.";
