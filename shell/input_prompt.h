// The one-line input prompt (template 132 of the module given) and the key password question built on it.
#pragma once
#include <windows.h>
#include <string>

// What the prompt shows and what it gives back.
struct InputPromptParams {
    HINSTANCE module = nullptr;      // holds the template and the icon
    const wchar_t* prompt = nullptr; // above the edit
    const wchar_t* caption = nullptr;
    DWORD flags = 0;                 // InputPromptMasked / InputPromptMaskedOther / neither: plain; InputPromptAllowEmpty
    WORD icon = 0;                   // big and small icon, 0 for none
    HWND edit = nullptr;             // the edit shown (filled by the prompt)
    std::wstring result;             // the entered text (filled on OK)
};

inline constexpr DWORD InputPromptMasked = 1;
inline constexpr DWORD InputPromptMaskedOther = 2;
inline constexpr DWORD InputPromptAllowEmpty = 4;

// Runs the prompt modally: IDOK with the text in params.result, 0 when cancelled, -1 when it could not be shown.
INT_PTR RunInputPrompt(HWND owner, InputPromptParams& params);

// "Please, input key password:", masked, captioned "Orrisafe", from the shell extension's own resources.
// True when the user confirmed a password (never empty); a prompt that cannot be shown throws tools::win_except.
bool AskKeyPassword(HWND owner, std::wstring& password);
