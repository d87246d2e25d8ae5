// Stands in for what Wine's registrar gets wrong with the values of a "REGISTRY" script: `val` values left behind
// at unregistration, `d` values above 0x7FFFFFFF written as 0x7FFFFFFF.
#include "registrar_values.h"

#include <cwchar>
#include <cwctype>
#include <stdexcept>

namespace platform {

namespace {

const struct {
    const wchar_t* name;
    HKEY key;
} root_keys[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER}, {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS}, {L"HKCC", HKEY_CURRENT_CONFIG},
};

[[noreturn]] void bad_script() { throw std::invalid_argument("The registration script cannot be read"); }

bool same_text(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

std::wstring replaced(const std::wstring& script, const registrar_replacements& replacements) {
    std::wstring out;
    size_t at = 0;
    for (;;) {
        size_t open = script.find(L'%', at);
        if (open == std::wstring::npos) break;
        size_t close = script.find(L'%', open + 1);
        if (close == std::wstring::npos) bad_script();
        out.append(script, at, open - at);
        std::wstring name = script.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            // The registrar takes the replacement added last.
            const std::wstring* value = nullptr;
            for (const auto& [key, item] : replacements)
                if (same_text(key, name.c_str())) value = &item;
            if (!value) bad_script();
            out += *value;
        }
        at = close + 1;
    }
    out.append(script, at, std::wstring::npos);
    return out;
}

// The registrar's words: a quoted text ('' for a quote inside), "}" or "=" alone, else a run up to white space.
class tokenizer {
public:
    explicit tokenizer(const std::wstring& text) : text_(text) {}
    bool at_end() {
        skip_space();
        return at_ >= text_.size();
    }
    // The next word; `quoted` tells whether it was written between quotes.
    std::wstring next(bool* quoted = nullptr) {
        skip_space();
        if (quoted) *quoted = false;
        if (at_ >= text_.size()) bad_script();
        wchar_t c = text_[at_];
        if (c == L'}' || c == L'=') return std::wstring(1, text_[at_++]);
        std::wstring word;
        if (c == L'\'') {
            if (quoted) *quoted = true;
            for (++at_;; ++at_) {
                if (at_ >= text_.size()) bad_script();
                if (text_[at_] == L'\'') {
                    if (at_ + 1 < text_.size() && text_[at_ + 1] == L'\'') {
                        word += L'\'';
                        ++at_;
                        continue;
                    }
                    ++at_;
                    return word;
                }
                word += text_[at_];
            }
        }
        while (at_ < text_.size() && !iswspace(text_[at_])) word += text_[at_++];
        return word;
    }
    // Whether a block of subkeys opens here ("{" followed by white space).
    bool block_opens() {
        skip_space();
        return at_ + 1 < text_.size() && text_[at_] == L'{' && iswspace(text_[at_ + 1]);
    }
    bool next_is(wchar_t c) {
        skip_space();
        return at_ < text_.size() && text_[at_] == c;
    }

private:
    void skip_space() {
        while (at_ < text_.size() && iswspace(text_[at_])) ++at_;
    }
    const std::wstring& text_;
    size_t at_ = 0;
};

void parse_keys(tokenizer& words, HKEY root, const std::wstring& path, std::vector<script_value>& values) {
    for (;;) {
        bool quoted = false;
        std::wstring word = words.next(&quoted);
        if (!quoted && word == L"}") return;
        bool is_value = false, is_delete = false;
        if (!quoted && (same_text(word, L"NoRemove") || same_text(word, L"ForceRemove") || same_text(word, L"val") ||
                        same_text(word, L"Delete"))) {
            is_value = same_text(word, L"val");
            is_delete = same_text(word, L"Delete");
            word = words.next();
        }
        const std::wstring key_path = is_value ? path : (path.empty() ? word : path + L"\\" + word);
        if (!is_delete && words.next_is(L'=')) {
            words.next();
            std::wstring type = words.next();
            if (type.size() != 1) bad_script();
            values.push_back({root, key_path, is_value ? word : std::wstring(), is_value, type[0], words.next()});
        } else if (is_value) {
            bad_script();
        }
        if (!is_value && !is_delete && words.block_opens()) {
            words.next();
            parse_keys(words, root, key_path, values);
        }
    }
}

}  // namespace

std::vector<script_value> script_values(const std::wstring& script, const registrar_replacements& replacements) {
    std::wstring text = replaced(script, replacements);
    tokenizer words(text);
    std::vector<script_value> values;
    while (!words.at_end()) {
        std::wstring root_name = words.next();
        HKEY root = nullptr;
        for (const auto& candidate : root_keys)
            if (same_text(root_name, candidate.name)) root = candidate.key;
        if (!root || !words.block_opens()) bad_script();
        words.next();
        parse_keys(words, root, L"", values);
    }
    return values;
}

std::vector<script_value> script_values(const wchar_t* module_path, UINT resource_id, const wchar_t* type,
                                        const registrar_replacements& replacements) {
    HMODULE module = LoadLibraryExW(module_path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) throw std::runtime_error("The module cannot be read");
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource_id), type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    std::wstring script;
    if (bytes) {
        int size = static_cast<int>(SizeofResource(module, found));
        script.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0)));
        MultiByteToWideChar(CP_ACP, 0, bytes, size, script.data(), static_cast<int>(script.size()));
        script.resize(wcsnlen(script.c_str(), script.size()));
    }
    FreeLibrary(module);
    if (!bytes) throw std::runtime_error("The registration script cannot be found");
    return script_values(script, replacements);
}

void remove_val_values(const std::vector<script_value>& values) noexcept {
    for (const script_value& value : values) {
        if (!value.named_with_val) continue;
        HKEY key = nullptr;
        if (RegOpenKeyExW(value.root, value.key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
        RegDeleteValueW(key, value.name.c_str());
        RegCloseKey(key);
    }
}

void rewrite_dword_values(const std::vector<script_value>& values) noexcept {
    for (const script_value& value : values) {
        if (value.type != L'd' && value.type != L'D') continue;
        // The registrar reads decimal text, or hexadecimal after "0x".
        const wchar_t* text = value.data.c_str();
        int base = 10;
        if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
            text += 2;
            base = 16;
        }
        const DWORD number = static_cast<DWORD>(wcstoull(text, nullptr, base));
        RegSetKeyValueW(value.root, value.key.c_str(), value.name.empty() ? nullptr : value.name.c_str(), REG_DWORD,
                        &number, sizeof(number));
    }
}

}  // namespace platform
