#include "wizard/password_rules.h"

#include <cwctype>

namespace {

const wchar_t* const kClasses[] = {
    L"ABCDEFGHIJKLMNOPQRSTUVWXYZ",
    L"abcdefghijklmnopqrstuvwxyz",
    L"0123456789",
    L" !@#$%^&*()_+-=[]{}\"\\;:<>,./`~'",
};

}  // namespace

bool IsWeakPassword(const std::wstring& password) {
    if (password.size() < 8) return true;
    int classes = 0;
    for (const wchar_t* members : kClasses)
        if (password.find_first_of(members) != std::wstring::npos) ++classes;
    if (classes < 3) return true;
    for (size_t i = 2; i < password.size(); ++i)
        if (password[i] == password[i - 1] && password[i] == password[i - 2]) return true;
    return false;
}

int PasswordStrengthBars(const std::wstring& password) {
    if (IsWeakPassword(password)) return 0;
    if (password.size() > 15) return 3;
    if (password.size() > 11) return 2;
    return 1;
}

std::wstring TrimText(const std::wstring& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::iswspace(text[first])) ++first;
    while (last > first && std::iswspace(text[last - 1])) --last;
    return text.substr(first, last - first);
}
