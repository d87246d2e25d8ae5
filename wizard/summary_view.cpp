#include "wizard/summary_view.h"

#include <algorithm>

namespace {

std::wstring DecodeEntities(const std::wstring& text) {
    static const std::pair<const wchar_t*, wchar_t> kEntities[] = {
        {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&#39;", L'\''}, {L"&nbsp;", L' '}};
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        bool done = false;
        if (text[i] == L'&') {
            for (const auto& entity : kEntities) {
                size_t n = wcslen(entity.first);
                if (text.compare(i, n, entity.first) == 0) {
                    out += entity.second;
                    i += n;
                    done = true;
                    break;
                }
            }
        }
        if (!done) out += text[i++];
    }
    return out;
}

std::wstring StripTags(const std::wstring& text) {
    std::wstring out;
    bool in_tag = false;
    for (wchar_t c : text) {
        if (c == L'<') in_tag = true;
        else if (c == L'>') in_tag = false;
        else if (!in_tag) out += c;
    }
    return out;
}

std::wstring TrimLabel(std::wstring label) {
    while (!label.empty() && (label.back() == L' ' || label.back() == L':')) label.pop_back();
    return label;
}

const int kMargin = 4;
const int kColumnGap = 12;

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    int length = GetWindowTextLengthW(window);
    std::wstring markup(length + 1, L'\0');
    GetWindowTextW(window, markup.data(), length + 1);
    markup.resize(wcslen(markup.c_str()));
    auto rows = ParseSummaryRows(markup);

    HFONT base = reinterpret_cast<HFONT>(SendMessageW(GetParent(window), WM_GETFONT, 0, 0));
    LOGFONTW logfont{};
    GetObjectW(base ? base : GetStockObject(DEFAULT_GUI_FONT), sizeof(logfont), &logfont);
    HFONT regular = CreateFontIndirectW(&logfont);
    logfont.lfWeight = FW_BOLD;
    HFONT bold = CreateFontIndirectW(&logfont);

    HGDIOBJ old = SelectObject(dc, bold);
    int label_width = 0;
    for (const auto& row : rows) {
        std::wstring label = row.first + L":";
        SIZE size;
        GetTextExtentPoint32W(dc, label.c_str(), static_cast<int>(label.size()), &size);
        label_width = std::max<int>(label_width, size.cx);
    }
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    int y = kMargin;
    int line = metrics.tmHeight + 3;
    for (const auto& row : rows) {
        std::wstring label = row.first + L":";
        SelectObject(dc, bold);
        TextOutW(dc, kMargin, y, label.c_str(), static_cast<int>(label.size()));
        SelectObject(dc, regular);
        RECT value{kMargin + label_width + kColumnGap, y, client.right - kMargin, y + line};
        DrawTextW(dc, row.second.c_str(), static_cast<int>(row.second.size()), &value,
                  DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
        y += line;
    }
    SelectObject(dc, old);
    DeleteObject(regular);
    DeleteObject(bold);
    EndPaint(window, &ps);
}

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETTEXT: {
        LRESULT result = DefWindowProcW(window, message, wparam, lparam);
        InvalidateRect(window, nullptr, TRUE);
        return result;
    }
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> ParseSummaryRows(const std::wstring& markup) {
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    size_t at = 0;
    while ((at = markup.find(L"<tr>", at)) != std::wstring::npos) {
        size_t end = markup.find(L"</tr>", at);
        if (end == std::wstring::npos) break;
        std::wstring row = markup.substr(at + 4, end - at - 4);
        std::vector<std::wstring> cells;
        size_t cell = 0;
        while ((cell = row.find(L"<td>", cell)) != std::wstring::npos) {
            size_t close = row.find(L"</td>", cell);
            if (close == std::wstring::npos) break;
            cells.push_back(DecodeEntities(StripTags(row.substr(cell + 4, close - cell - 4))));
            cell = close + 5;
        }
        if (cells.size() >= 2) rows.emplace_back(TrimLabel(cells[0]), cells[1]);
        at = end + 5;
    }
    return rows;
}

const wchar_t* SummaryViewClass() {
    static const wchar_t kClass[] = L"OrrisafeSummaryView";
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ViewProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClass;
        registered = RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }
    return kClass;
}
