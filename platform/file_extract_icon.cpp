// Stands in for the shell's SHCreateFileExtractIconW, which Wine 8 leaves unimplemented (E_NOTIMPL).
#include "file_extract_icon.h"

#include <shellapi.h>

namespace platform {

namespace {

// The shell's own document and folder icons, where the file information names no location.
constexpr int document_icon_index = 0;
constexpr int folder_icon_index = 3;

}  // namespace

file_extract_icon::file_extract_icon(const wchar_t* name, DWORD attributes)
    : com_object(IID_IExtractIconW), name_(name ? name : L""), attributes_(attributes) {}

STDMETHODIMP file_extract_icon::GetIconLocation(UINT, LPWSTR file, UINT size, int* index, UINT* out_flags) {
    if (!file || !index || !out_flags || size == 0) return E_INVALIDARG;
    SHFILEINFOW info{};
    std::wstring location;
    int at = 0;
    if (SHGetFileInfoW(name_.c_str(), attributes_, &info, sizeof(info), SHGFI_USEFILEATTRIBUTES | SHGFI_ICONLOCATION) &&
        info.szDisplayName[0]) {
        location = info.szDisplayName;
        at = info.iIcon;
    } else {
        wchar_t shell[MAX_PATH];
        if (!GetModuleFileNameW(GetModuleHandleW(L"shell32.dll"), shell, MAX_PATH)) return E_FAIL;
        location = shell;
        at = attributes_ & FILE_ATTRIBUTE_DIRECTORY ? folder_icon_index : document_icon_index;
    }
    if (location.size() >= size) return E_OUTOFMEMORY;
    lstrcpynW(file, location.c_str(), static_cast<int>(size));
    *index = at;
    *out_flags = GIL_PERCLASS;
    return S_OK;
}

STDMETHODIMP file_extract_icon::Extract(LPCWSTR, UINT, HICON* large, HICON* small, UINT) {
    if (large) *large = nullptr;
    if (small) *small = nullptr;
    return S_FALSE;
}

}  // namespace platform
