// Stands in for the shell's SHCreateFileExtractIconW, which Wine 8 leaves unimplemented (E_NOTIMPL).
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>

#include <tools/com_object.h>

namespace platform {

// The icon of an item that is not on disk, by its name and file attributes: the location the shell's file
// information names for such an item (a folder's, or the icon registered for the file's extension). The caller
// extracts the icon from that location. A DLL that hands one out derives from it to hold its module meanwhile.
class file_extract_icon : public tools::com_object<IExtractIconW> {
public:
    file_extract_icon(const wchar_t* name, DWORD attributes);

    STDMETHODIMP GetIconLocation(UINT flags, LPWSTR file, UINT size, int* index, UINT* out_flags) override;
    // S_FALSE: the caller extracts the icon from the location itself.
    STDMETHODIMP Extract(LPCWSTR file, UINT index, HICON* large, HICON* small, UINT sizes) override;

private:
    std::wstring name_;
    DWORD attributes_;
};

}  // namespace platform
