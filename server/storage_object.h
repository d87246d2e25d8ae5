// The folder object: the root folder of an open storage file or a child folder opened below it. It keeps
// the open-children table (one object per open child folder) and the open-file map, and can cut its
// clients off from itself and everything opened below it.
#pragma once
#include <windows.h>
#include <orrisafe.h>
#include <map>
#include <string>
#include <vector>
#include <tools/interface_holder.h>
#include "element_object.h"
#include "element_store.h"
#include "icase_less.h"
#include "open_storage_table.h"

class CStreamObject;

class CStorageObject final : public CElementObject<IStorageFolder> {
public:
    // Opens the storage file at path and makes its root folder, entered in table under path, with one
    // reference for the caller. Null when the file cannot be opened (result, when given, receives the
    // compound file's HRESULT) or the object cannot be made.
    static CStorageObject* CreateRootFolder(COpenStorageTable& table, const std::wstring& path,
                                            HRESULT* result = nullptr) noexcept;

    // Cuts every client off from this folder, its open files and its open child folders, files first and
    // children before their parent, and closes what they held. The folder leaves its table. Throws
    // E_ACCESSDENIED when a child folder does not leave this folder's table.
    void DisconnectTree();

    COpenStorageTable& Table() noexcept { return children_; }
    const StorageHolder& Storage() const noexcept { return storage_; }

    STDMETHODIMP GetType(long* type) override;
    STDMETHODIMP GetProperty(GUID key, VARIANT* value) override;
    STDMETHODIMP IsRoot(VARIANT_BOOL* root) override;
    STDMETHODIMP EnumElements(IElementEnum** elements) override;
    STDMETHODIMP OpenFolder(BSTR name, VARIANT_BOOL create, IStorageFolder** folder) override;
    STDMETHODIMP OpenFile(BSTR name, VARIANT_BOOL create, IStorageFile** file) override;
    STDMETHODIMP RenameElement(BSTR old_name, BSTR new_name) override;
    STDMETHODIMP DeleteElement(BSTR name) override;
    STDMETHODIMP FindElement(BSTR path, IStorageElement** element) override;
    STDMETHODIMP FindElementInfo(BSTR path, IElementInfo** info) override;

protected:
    HRESULT Stat(STATSTG* stat) override;
    CElementWrapper* Wrapper() noexcept override { return storage_.get(); }

private:
    friend class CStreamObject;
    using Ref = tools::interface_holder<CStorageObject>;

    CStorageObject(StorageHolder storage, CStorageObject* parent, std::wstring own_name, COpenStorageTable* table);
    ~CStorageObject() override;

    Ref OpenChildFolder(const std::wstring& name, bool create);
    tools::interface_holder<IStorageFile> OpenChildFile(const std::wstring& name, bool create);
    // The folder that holds the last of names: the open or opened child folders along the others, none created.
    Ref OpenParentFolder(const std::vector<std::wstring>& names);
    // The child whose display name is name, as the element's identity compares names; E_NOINTERFACE for none.
    HRESULT FindChild(const std::wstring& name, ChildRecord& found);
    HRESULT OpenFolderPath(const std::wstring& name, bool create, IStorageFolder** out);
    HRESULT OpenFilePath(const std::wstring& name, bool create, IStorageFile** out);
    HRESULT FindElementPath(const std::wstring& path, IStorageElement** out);
    HRESULT FindElementInfoPath(const std::wstring& path, IElementInfo** out);
    // Whether a child folder or a file is open under name.
    bool HoldsOpenElement(const std::wstring& name) const;
    // The storage of the folder open below this one at path (display names), empty when it is not open.
    StorageHolder StorageOfOpenFolder(const std::vector<std::wstring>& path) const;
    // Cuts off the open child folder and every open file under name, before that element changes.
    void DisconnectOpenElement(const std::wstring& name);
    // Leaves the table and drops the storage and the parent: the folder no longer holds anything open.
    void CutOff() noexcept;

    void AddOpenFile(const std::wstring& name, CStreamObject* file);
    void RemoveOpenFile(const std::wstring& name, CStreamObject* file) noexcept;

    COpenStorageTable children_;
    StorageHolder storage_;
    // Every open file object, several under one name when it was opened more than once.
    std::multimap<std::wstring, CStreamObject*, ICaseLess> files_;
};
