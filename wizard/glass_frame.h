// The wizard's header on extended window glass where the desktop is composited, bound at run time.
#pragma once
#include <windows.h>
#include <uxtheme.h>

// The desktop-composition and theme functions, bound by name so the program runs where they don't exist.
class CDwmApi {
public:
    static CDwmApi& Instance();
    void Bind();
    void Unbind();
    bool IsBound() const { return dwmapi_ != nullptr; }

    bool IsCompositionEnabled();
    // Each wrapper returns 1 (failure) without calling anything when its function is missing.
    HRESULT DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
    HRESULT ExtendFrameIntoClientArea(HWND window, const MARGINS* margins);
    HRESULT DrawThemeTextEx(HTHEME theme, HDC dc, const wchar_t* text, RECT* rect, const DTTOPTS* options);

private:
    HMODULE dwmapi_ = nullptr;
    HMODULE uxtheme_ = nullptr;
    FARPROC enable_composition_ = nullptr;
    FARPROC enable_blur_behind_ = nullptr;
    FARPROC def_window_proc_ = nullptr;
    FARPROC extend_frame_ = nullptr;
    FARPROC is_composition_enabled_ = nullptr;
    FARPROC draw_theme_text_ex_ = nullptr;
};

// Glowing theme text on glass; false when it could not be drawn.
bool DrawGlowText(HDC dc, const RECT& rect, const wchar_t* text, int font_height);

// Draws a PNG held in a stream at (x, y) in its own size.
void DrawBanner(IStream* banner, HDC dc, int x, int y);

// Height of the glass band at the top of the wizard.
const int kGlassHeight = 70;
