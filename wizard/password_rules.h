// The password complexity rule of new keys and the strength shown for a password.
#pragma once
#include <string>

// True when the password is weak: shorter than 8, fewer than 3 of the four character classes,
// or a character repeated three times in a row.
bool IsWeakPassword(const std::wstring& password);

// How many of the three strength bars a password earns: 0 when weak, else 1, 2 above 11 characters, 3 above 15.
int PasswordStrengthBars(const std::wstring& password);

// The text without leading and trailing white space.
std::wstring TrimText(const std::wstring& text);
