#include "input_prompt.h"

#include <platform/dialog_framework.h>
#include <tools/win_except.h>

#include "input_prompt_resources.h"

namespace {

class CInputPrompt : public platform::dialog {
public:
    explicit CInputPrompt(InputPromptParams& params) : dialog(IDD_INPUT_PROMPT, params.module), params_(params) {}

protected:
    bool on_init_dialog() override {
        if (params_.caption) SetWindowTextW(hwnd(), params_.caption);
        if (params_.prompt) set_item_text(IDC_INPUT_PROMPT, params_.prompt);
        if (params_.icon) {
            HICON icon = LoadIconW(params_.module, MAKEINTRESOURCEW(params_.icon));
            if (icon) {
                SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
                SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
                DestroyIcon(icon);
            }
        }
        int edit = params_.flags & InputPromptMasked        ? IDC_INPUT_MASKED
                   : params_.flags & InputPromptMaskedOther ? IDC_INPUT_MASKED_OTHER
                                                            : IDC_INPUT_PLAIN;
        edit_ = edit;
        params_.edit = item(edit);
        show_item(edit, true);
        focus_item(edit);
        return false;  // the focus is set
    }

    void on_ok() override {
        std::wstring text = item_text(edit_);
        if (text.empty() && !(params_.flags & InputPromptAllowEmpty)) {
            message_box(L"Empty result is not allowed.", params_.caption ? params_.caption : L"", MB_ICONWARNING);
            return;
        }
        params_.result = std::move(text);
        end_dialog(IDOK);
    }

    void on_cancel() override { end_dialog(0); }

    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override {
        if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lparam) == item(IDC_INPUT_PROMPT)) {
            SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
            result = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
            return true;
        }
        if (message == WM_PAINT) {
            paint_header();
            result = 0;
            return true;
        }
        return false;
    }

private:
    // The area above the etched line is white, as the prompt's header.
    void paint_header() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        RECT client, line;
        GetClientRect(hwnd(), &client);
        GetWindowRect(item(IDC_INPUT_LINE), &line);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&line), 2);
        client.bottom = line.top;
        HGDIOBJ pen = SelectObject(dc, GetStockObject(WHITE_PEN));
        HGDIOBJ brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
        Rectangle(dc, client.left, client.top, client.right, client.bottom);
        SelectObject(dc, brush);
        SelectObject(dc, pen);
        EndPaint(hwnd(), &paint);
    }

    InputPromptParams& params_;
    int edit_ = IDC_INPUT_PLAIN;
};

}  // namespace

INT_PTR RunInputPrompt(HWND owner, InputPromptParams& params) {
    CInputPrompt prompt(params);
    return prompt.do_modal(owner);
}

bool AskKeyPassword(HWND owner, std::wstring& password) {
    InputPromptParams params;
    params.module = platform::this_module();
    params.prompt = L"Please, input key password:";
    params.caption = L"Orrisafe";
    params.flags = InputPromptMasked;
    params.icon = 1;
    SetLastError(ERROR_SUCCESS);
    INT_PTR answer = RunInputPrompt(owner, params);
    if (answer == -1) tools::throw_last_error();
    if (answer != IDOK) return false;
    password = std::move(params.result);
    return true;
}
