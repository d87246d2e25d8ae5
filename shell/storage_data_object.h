// The data object that a storage folder hands out for selected items: the shell's own item data object (its
// "Shell IDList Array" and other formats) with the virtual-file formats "FileGroupDescriptorW" and "FileContents"
// added, so a drop target outside the storage receives the items as files read from the server. Its SetData
// completes a move: "Performed DropEffect" = move from the target deletes from the storage what the target read whole.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shldisp.h>
#include <shlobj.h>
#include <atomic>
#include <memory>
#include <vector>

#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include "content_key.h"
#include "id_list.h"
#include "module_lock.h"

class CStorageShellFolder;

// The shell names it IAsyncOperation; the toolchain's headers know it by its later name.
using IAsyncOperation = IDataObjectAsyncCapability;

// The base of the data object: IDataObject with IAsyncOperation, whose state it only keeps (Explorer may ask to
// extract asynchronously; the object works the same either way).
class data_object : public tools::com_object<IDataObject>, public IAsyncOperation {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return com_object::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return com_object::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return com_object::Release(); }

    STDMETHODIMP SetAsyncMode(BOOL mode) override;
    STDMETHODIMP GetAsyncMode(BOOL* mode) override;
    STDMETHODIMP StartOperation(IBindCtx* context) override;
    STDMETHODIMP InOperation(BOOL* in_operation) override;
    STDMETHODIMP EndOperation(HRESULT result, IBindCtx* context, DWORD effect) override;

protected:
    void* query_own_interface(REFIID iid) override;

private:
    BOOL async_mode_ = FALSE;
    BOOL in_operation_ = FALSE;
};

class CStorageDataObject final : public data_object {
public:
    // The items (one-record ID lists of the folder) and the storage's content key; the folder is referenced. A
    // failure to make the shell's item data object is raised as its HRESULT.
    CStorageDataObject(CStorageShellFolder* folder, const ITEMIDLIST* folder_list, UINT count,
                       PCUITEMID_CHILD_ARRAY items, const ContentKey& content_key);

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** out) override;

private:
    HRESULT BuildFileGroupDescriptor(STGMEDIUM* medium);
    HRESULT GetFileContents(const FORMATETC* format, STGMEDIUM* medium);

    shell::CModuleLock module_lock_;
    tools::interface_holder<CStorageShellFolder> folder_;
    ContentKey content_key_;
    std::vector<CIdList> items_;
    CIdList folder_list_;
    tools::interface_holder<IDataObject> inner_;
    // Built on the first request for the descriptors, cleared after a completed move.
    std::vector<FILEDESCRIPTORW> descriptors_;
    // For each descriptor, the streams handed out under it: the element each one read, and whether the target
    // read it to its end. A move deletes only a file that one of them brought whole.
    struct hand_out {
        GUID element;
        std::shared_ptr<std::atomic<bool>> whole;
    };
    std::vector<std::vector<hand_out>> handed_out_;
};

// The two virtual-file formats, registered once.
CLIPFORMAT FileContentsFormat();
CLIPFORMAT FileGroupDescriptorFormat();
