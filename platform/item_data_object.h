// Stands in for two parts of the shell's item data object (shell32 ordinal 83) that Wine gets wrong. Its SetData
// refuses every format (E_NOTIMPL, or E_INVALIDARG for formats it does not know), so the drop effects and marks that
// a source or a target stores in it would be lost without a word. And for items that are not on disk it still renders
// file names (CF_HDROP, "FileName", "FileNameW"): the path of the file that holds them, so a target that copies or
// moves by file name would take that whole file instead of the items.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <tools/com_object.h>
#include <tools/interface_holder.h>
#include <map>
#include <vector>

namespace platform {

// An IDataObject over the shell's one. SetData goes to the inner object first; a TYMED_HGLOBAL medium that it refuses
// is kept here instead (taken over when release is TRUE, else copied), and GetData, QueryGetData and EnumFormatEtc
// then answer it as the inner object would. Items that are not on disk have no file-name formats. Everything else is
// the inner object's.
class item_data_object : public tools::com_object<IDataObject> {
public:
    item_data_object(IDataObject* inner, bool items_on_disk);
    ~item_data_object() override;

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
    // The block kept for a format, and whether it still exists.
    HGLOBAL kept(const FORMATETC* format) const;
    // A file-name format that these items do not have.
    bool hidden(const FORMATETC* format) const;
    HRESULT enum_formats(DWORD direction, IEnumFORMATETC** out);

    tools::interface_holder<IDataObject> inner_;
    std::map<CLIPFORMAT, HGLOBAL> kept_;
    bool items_on_disk_;
};

// The formats the object lists for the direction, their target devices dropped (none when it lists none).
std::vector<FORMATETC> listed_formats(IDataObject* data, DWORD direction);

// A copy of a memory block (GMEM_MOVEABLE), null when it cannot be made.
HGLOBAL copy_global(HGLOBAL source);

}  // namespace platform
