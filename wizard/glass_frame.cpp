#include "wizard/glass_frame.h"

#include <gdiplus.h>
#include <vssym32.h>

namespace {

template <class F>
F As(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(proc));
}

using DwmDefWindowProcFn = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM, LRESULT*);
using DwmExtendFrameFn = HRESULT(WINAPI*)(HWND, const MARGINS*);
using DwmIsCompositionEnabledFn = HRESULT(WINAPI*)(BOOL*);
using DrawThemeTextExFn = HRESULT(WINAPI*)(HTHEME, HDC, int, int, LPCWSTR, int, DWORD, LPRECT, const DTTOPTS*);

const HRESULT kUnbound = 1;

}  // namespace

CDwmApi& CDwmApi::Instance() {
    static CDwmApi api;
    return api;
}

void CDwmApi::Bind() {
    if (dwmapi_) return;
    dwmapi_ = LoadLibraryW(L"dwmapi.dll");
    uxtheme_ = LoadLibraryW(L"uxtheme.dll");
    if (dwmapi_) {
        enable_composition_ = GetProcAddress(dwmapi_, "DwmEnableComposition");
        enable_blur_behind_ = GetProcAddress(dwmapi_, "DwmEnableBlurBehindWindow");
        def_window_proc_ = GetProcAddress(dwmapi_, "DwmDefWindowProc");
        extend_frame_ = GetProcAddress(dwmapi_, "DwmExtendFrameIntoClientArea");
        is_composition_enabled_ = GetProcAddress(dwmapi_, "DwmIsCompositionEnabled");
    }
    if (uxtheme_) draw_theme_text_ex_ = GetProcAddress(uxtheme_, "DrawThemeTextEx");
}

void CDwmApi::Unbind() {
    if (dwmapi_) FreeLibrary(dwmapi_);
    if (uxtheme_) FreeLibrary(uxtheme_);
    *this = CDwmApi();
}

bool CDwmApi::IsCompositionEnabled() {
    if (!dwmapi_ || !is_composition_enabled_) return false;
    BOOL enabled = FALSE;
    return SUCCEEDED(As<DwmIsCompositionEnabledFn>(is_composition_enabled_)(&enabled)) && enabled;
}

HRESULT CDwmApi::DefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
    if (!dwmapi_ || !def_window_proc_) return kUnbound;
    return As<DwmDefWindowProcFn>(def_window_proc_)(window, message, wparam, lparam, result) ? S_OK : S_FALSE;
}

HRESULT CDwmApi::ExtendFrameIntoClientArea(HWND window, const MARGINS* margins) {
    if (!dwmapi_ || !extend_frame_) return kUnbound;
    return As<DwmExtendFrameFn>(extend_frame_)(window, margins);
}

HRESULT CDwmApi::DrawThemeTextEx(HTHEME theme, HDC dc, const wchar_t* text, RECT* rect, const DTTOPTS* options) {
    if (!dwmapi_ || !draw_theme_text_ex_) return kUnbound;
    return As<DrawThemeTextExFn>(draw_theme_text_ex_)(theme, dc, 0, 0, text, -1, DT_SINGLELINE | DT_VCENTER, rect,
                                                      options);
}

bool DrawGlowText(HDC dc, const RECT& rect, const wchar_t* text, int font_height) {
    CDwmApi& api = CDwmApi::Instance();
    if (!api.IsBound()) return false;
    HTHEME theme = OpenThemeData(nullptr, L"CompositedWindow::Window");
    if (!theme) return false;
    bool drawn = false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = memory ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (dib) {
        HGDIOBJ old_bitmap = SelectObject(memory, dib);
        LOGFONTW logfont{};
        HFONT font = nullptr;
        HGDIOBJ old_font = nullptr;
        if (SUCCEEDED(GetThemeSysFont(theme, TMT_CAPTIONFONT, &logfont))) {
            if (font_height != -1) logfont.lfHeight = font_height;
            font = CreateFontIndirectW(&logfont);
            if (font) old_font = SelectObject(memory, font);
        }
        DTTOPTS options{};
        options.dwSize = sizeof(options);
        options.dwFlags = DTT_COMPOSITED | DTT_GLOWSIZE;
        options.iGlowSize = 15;
        RECT text_rect{0, 0, width, height};
        drawn = SUCCEEDED(api.DrawThemeTextEx(theme, memory, text, &text_rect, &options));
        BitBlt(dc, rect.left, rect.top, width, height, memory, 0, 0, SRCCOPY);
        if (old_font) SelectObject(memory, old_font);
        if (font) DeleteObject(font);
        SelectObject(memory, old_bitmap);
        DeleteObject(dib);
    }
    if (memory) DeleteDC(memory);
    CloseThemeData(theme);
    return drawn;
}

void DrawBanner(IStream* banner, HDC dc, int x, int y) {
    if (!banner) return;
    LARGE_INTEGER start{};
    banner->Seek(start, STREAM_SEEK_SET, nullptr);
    Gdiplus::Image image(banner);
    if (image.GetLastStatus() != Gdiplus::Ok) return;
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(&image, x, y, static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()));
}
