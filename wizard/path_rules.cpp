#include "wizard/path_rules.h"

#include <windows.h>
#include <shlwapi.h>

bool IsUsableFilePath(const std::wstring& path) {
    if (path.size() >= MAX_PATH) return false;
    wchar_t buffer[MAX_PATH] = L"";
    wcscpy(buffer, path.c_str());
    PathRemoveBackslashW(buffer);
    DWORD attributes = GetFileAttributesW(buffer);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::wstring PathExtension(const std::wstring& path) {
    size_t name = path.find_last_of(L"\\/:");
    name = name == std::wstring::npos ? 0 : name + 1;
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || dot < name) return std::wstring();
    return path.substr(dot);
}

std::wstring WithExtension(const std::wstring& path, const std::wstring& extension) {
    if (_wcsicmp(PathExtension(path).c_str(), extension.c_str()) == 0) return path;
    return path + extension;
}

bool IsUsableCompletedPath(const std::wstring& path, const std::wstring& extension) {
    return IsUsableFilePath(path) && IsUsableFilePath(WithExtension(path, extension));
}

std::wstring ProposeKeyFilePath(const std::wstring& storage_path) {
    std::wstring extension = PathExtension(storage_path);
    std::wstring proposal = storage_path.substr(0, storage_path.size() - extension.size()) + L".pfx";
    if (proposal.size() >= MAX_PATH) proposal.resize(MAX_PATH - 1);
    return proposal;
}

bool IsSameFilePath(const std::wstring& a, const std::wstring& b) {
    wchar_t full_a[MAX_PATH * 2], full_b[MAX_PATH * 2];
    if (!GetFullPathNameW(a.c_str(), MAX_PATH * 2, full_a, nullptr) ||
        !GetFullPathNameW(b.c_str(), MAX_PATH * 2, full_b, nullptr))
        return _wcsicmp(a.c_str(), b.c_str()) == 0;
    return _wcsicmp(full_a, full_b) == 0;
}
