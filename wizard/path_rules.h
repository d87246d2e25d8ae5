// The rules by which the wizard judges and completes the paths the user types.
#pragma once
#include <string>

// True when a file may be created at the path: it doesn't exist, or it is an ordinary file.
// Paths of 260 characters or more, folders and devices are not usable.
bool IsUsableFilePath(const std::wstring& path);

// The extension of the path's last component, from its last dot on (empty when there is none).
std::wstring PathExtension(const std::wstring& path);

// The path with the extension appended unless it already ends in it (compared without regard to case).
std::wstring WithExtension(const std::wstring& path, const std::wstring& extension);

// True when both the path as typed and the path completed with the extension are usable: the file goes to the
// completed one.
bool IsUsableCompletedPath(const std::wstring& path, const std::wstring& extension);

// The key file proposed for a storage path: its extension replaced by ".pfx".
std::wstring ProposeKeyFilePath(const std::wstring& storage_path);

// Whether two paths name the same file (full paths compared without regard to case).
bool IsSameFilePath(const std::wstring& a, const std::wstring& b);
