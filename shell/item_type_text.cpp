#include "item_type_text.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <vector>

namespace {

// The default value of a key under HKEY_CLASSES_ROOT; empty when it cannot be read.
std::wstring class_default_value(const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyW(HKEY_CLASSES_ROOT, subkey.c_str(), &key) != ERROR_SUCCESS) return L"";
    std::wstring text;
    LONG size = 0;
    if (RegQueryValueW(key, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::vector<wchar_t> buffer(static_cast<size_t>(size) / sizeof(wchar_t) + 1, L'\0');
        LONG got = static_cast<LONG>(buffer.size() * sizeof(wchar_t));
        if (RegQueryValueW(key, nullptr, buffer.data(), &got) == ERROR_SUCCESS) text = buffer.data();
    }
    RegCloseKey(key);
    return text;
}

}  // namespace

std::wstring ItemTypeText(const wchar_t* name) {
    if (!name) {
        std::wstring text = class_default_value(L"Folder");
        return text.empty() ? L"Folder" : text;
    }
    const wchar_t* extension = PathFindExtensionW(name);
    if (extension[0] != L'.' || extension[1] == L'\0') return L"File";
    const std::wstring file_class = class_default_value(extension);
    if (!file_class.empty()) {
        std::wstring text = class_default_value(file_class);
        if (!text.empty()) return text;
    }
    std::wstring upper(extension + 1);
    _wcsupr_s(upper.data(), upper.size() + 1);
    return upper + L" File";
}
