#include "shared_prog_id.h"

#include <cwchar>
#include "win_except.h"

namespace tools {

namespace {

std::optional<std::wstring> default_text(HKEY root, const std::wstring& subkey) {
    DWORD size = 0;
    if (RegGetValueW(root, subkey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(root, subkey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

void set_default_text(HKEY root, const std::wstring& subkey, const std::wstring& text) {
    LONG result = RegSetKeyValueW(root, subkey.c_str(), nullptr, REG_SZ, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS) throw win_except(static_cast<DWORD>(result));
}

}  // namespace

std::optional<prog_id_class> read_prog_id_class(const wchar_t* prog_id) {
    const std::wstring key(prog_id);
    std::optional<std::wstring> clsid = default_text(HKEY_CLASSES_ROOT, key + L"\\CLSID");
    if (!clsid) return std::nullopt;
    return prog_id_class{default_text(HKEY_CLASSES_ROOT, key).value_or(L""), *clsid};
}

void write_prog_id_class(const wchar_t* prog_id, const prog_id_class& named) {
    const std::wstring key(prog_id);
    set_default_text(HKEY_CLASSES_ROOT, key, named.description);
    set_default_text(HKEY_CLASSES_ROOT, key + L"\\CLSID", named.clsid);
}

bool class_registered(const std::wstring& clsid) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool same_guid_text(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace tools
