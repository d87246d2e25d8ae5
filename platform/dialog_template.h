// A dialog template built in memory, for the small dialogs of static libraries, which carry no resources.
#pragma once
#include <windows.h>
#include <cwchar>
#include <vector>

namespace platform {

class dialog_template {
public:
    dialog_template(const wchar_t* caption, short cx, short cy, WORD items) {
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cdit = items;
        t.cx = cx;
        t.cy = cy;
        append(&t, sizeof(t));
        word(0);  // no menu
        word(0);  // standard class
        text(caption);
        word(8);
        text(L"MS Shell Dlg");
    }
    // Classes by atom: 0x80 button, 0x81 edit, 0x82 static.
    void item(WORD atom, DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* title) {
        while (bytes_.size() % 4) bytes_.push_back(0);
        DLGITEMTEMPLATE i{};
        i.style = style | WS_CHILD | WS_VISIBLE;
        i.x = x;
        i.y = y;
        i.cx = cx;
        i.cy = cy;
        i.id = id;
        append(&i, sizeof(i));
        word(0xFFFF);
        word(atom);
        text(title);
        word(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    void append(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void word(WORD w) { append(&w, sizeof(w)); }
    void text(const wchar_t* s) { append(s, (wcslen(s) + 1) * sizeof(wchar_t)); }
    std::vector<BYTE> bytes_;
};

}  // namespace platform
