// Stands in for the platform's application framework classes (application object, dialogs), which MinGW does not have.
#include "platform/dialog_framework.h"

#include <shellapi.h>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

// The dialog object is kept in this window property from the first message on.
const wchar_t kDialogProperty[] = L"platform.dialog";

// A dialog being created on this thread: WM_SETFONT and friends arrive before WM_INITDIALOG carries the pointer.
thread_local dialog* g_creating = nullptr;

// Marks a dialog as the one being created on this thread for as long as its creation call runs.
class creating_scope {
public:
    explicit creating_scope(dialog* created) : previous_(g_creating) { g_creating = created; }
    ~creating_scope() { g_creating = previous_; }
    creating_scope(const creating_scope&) = delete;
    creating_scope& operator=(const creating_scope&) = delete;

private:
    dialog* previous_;
};

// Resource type of a template's initialisation data (rows for list and combo boxes).
const WORD kDlgInitType = 240;
// The 16-bit era message numbers that initialisation data records use.
const WORD kInitListAddString = 0x0401;
const WORD kInitComboAddString = 0x0403;

std::wstring exception_text() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return L"Not enough memory.";
    } catch (const std::exception& e) {
        const char* what = e.what();
        int n = MultiByteToWideChar(CP_ACP, 0, what, -1, nullptr, 0);
        std::wstring text(n > 0 ? n - 1 : 0, L'\0');
        if (n > 1) MultiByteToWideChar(CP_ACP, 0, what, -1, text.data(), n);
        return text;
    } catch (...) {
        return L"Unspecified error";
    }
}

}  // namespace

std::atomic<application*> application::current_{nullptr};

application::application() : instance_(GetModuleHandleW(nullptr)) {
    current_.store(this);
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) arguments_.emplace_back(argv[i]);
        LocalFree(argv);
    }
}

application::~application() {
    application* self = this;
    current_.compare_exchange_strong(self, nullptr);
}

void application::enable_control_container() {
    control_container_ = true;
}

int application::run() {
    if (!init_instance()) return exit_instance();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (main_window_ && IsDialogMessageW(main_window_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return exit_instance();
}

modal_scope::modal_scope(dialog& owner) : top_(owner.top_level()) {
    if (top_ && top_->modal_depth_++ == 0) top_->begin_modal_state();
}

modal_scope::~modal_scope() {
    if (top_ && --top_->modal_depth_ == 0) top_->end_modal_state();
}

dialog::dialog(UINT template_id, HINSTANCE resources)
    : template_id_(template_id), resources_(resources ? resources : GetModuleHandleW(nullptr)) {}

dialog::~dialog() {
    destroy();
    // A page whose sheet outlives the object: later messages must not reach a destroyed object.
    if (hwnd_) RemovePropW(hwnd_, kDialogProperty);
}

INT_PTR dialog::do_modal(HWND owner) {
    kind_ = kind::modal;
    INT_PTR result;
    {
        creating_scope creating(this);
        result = DialogBoxParamW(resources_, MAKEINTRESOURCEW(template_id_), owner, dialog_proc,
                                 reinterpret_cast<LPARAM>(this));
    }
    kind_ = kind::child;
    return result;
}

void dialog::create_child(HWND parent) {
    kind_ = kind::child;
    HWND window;
    {
        creating_scope creating(this);
        window = CreateDialogParamW(resources_, MAKEINTRESOURCEW(template_id_), parent, dialog_proc,
                                    reinterpret_cast<LPARAM>(this));
    }
    if (!window) {
        DWORD code = GetLastError();
        throw std::runtime_error("Unable to create the dialog " + std::to_string(template_id_) + " (error " +
                                 std::to_string(code) + ")");
    }
}

void dialog::end_dialog(INT_PTR result) {
    if (!hwnd_) return;
    switch (kind_) {
    case kind::modal:
        EndDialog(hwnd_, result);
        break;
    case kind::page:
        PostMessageW(GetParent(hwnd_), PSM_PRESSBUTTON, result == IDOK ? PSBTN_OK : PSBTN_CANCEL, 0);
        break;
    case kind::child:
        DestroyWindow(hwnd_);
        break;
    }
}

void dialog::destroy() {
    if (hwnd_ && kind_ == kind::child) DestroyWindow(hwnd_);
}

dialog* dialog::from_window(HWND window) {
    return window ? static_cast<dialog*>(GetPropW(window, kDialogProperty)) : nullptr;
}

dialog* dialog::top_level() {
    HWND root = hwnd_ ? GetAncestor(hwnd_, GA_ROOT) : nullptr;
    dialog* top = from_window(root);
    return top ? top : this;
}

HWND dialog::item(int id) const {
    return GetDlgItem(hwnd_, id);
}

std::wstring dialog::item_text(int id) const {
    HWND control = item(id);
    int length = control ? GetWindowTextLengthW(control) : 0;
    std::wstring text(length + 1, L'\0');
    if (control) GetWindowTextW(control, text.data(), length + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

void dialog::set_item_text(int id, const std::wstring& text) {
    SetDlgItemTextW(hwnd_, id, text.c_str());
}

void dialog::enable_item(int id, bool enable) {
    EnableWindow(item(id), enable ? TRUE : FALSE);
}

void dialog::show_item(int id, bool show) {
    ShowWindow(item(id), show ? SW_SHOW : SW_HIDE);
}

bool dialog::is_item_checked(int id) const {
    return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void dialog::check_radio(int first, int last, int id) {
    CheckRadioButton(hwnd_, first, last, id);
}

void dialog::focus_item(int id) {
    if (HWND control = item(id)) SetFocus(control);
}

LRESULT dialog::send_item(int id, UINT message, WPARAM wparam, LPARAM lparam) const {
    return SendDlgItemMessageW(hwnd_, id, message, wparam, lparam);
}

int dialog::message_box(const std::wstring& text, const std::wstring& caption, UINT flags) {
    modal_scope modal(*this);
    return MessageBoxW(hwnd_, text.c_str(), caption.c_str(), flags);
}

void dialog::begin_modal_state() {
    if (hwnd_) EnableWindow(hwnd_, FALSE);
}

void dialog::end_modal_state() {
    if (hwnd_) EnableWindow(hwnd_, TRUE);
}

void dialog::on_ok() {
    end_dialog(IDOK);
}

void dialog::on_cancel() {
    end_dialog(IDCANCEL);
}

void dialog::report_exception(const std::wstring& text) {
    wchar_t caption[256] = L"";
    HWND root = hwnd_ ? GetAncestor(hwnd_, GA_ROOT) : nullptr;
    if (root) GetWindowTextW(root, caption, 256);
    MessageBoxW(root, (L"An error has occured:\n\n" + text).c_str(), caption, MB_OK | MB_ICONERROR);
}

void dialog::apply_init_data() {
    HINSTANCE instance = resources_;
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(template_id_), MAKEINTRESOURCEW(kDlgInitType));
    if (!found) return;
    HGLOBAL loaded = LoadResource(instance, found);
    auto data = static_cast<const unsigned char*>(LockResource(loaded));
    DWORD size = SizeofResource(instance, found);
    if (!data) return;
    // Records: control id (16 bits), message (16 bits), data length (32 bits), data; a zero id ends the list.
    DWORD at = 0;
    while (at + 8 <= size) {
        WORD id, message;
        DWORD length;
        memcpy(&id, data + at, 2);
        if (id == 0) break;
        memcpy(&message, data + at + 2, 2);
        memcpy(&length, data + at + 4, 4);
        at += 8;
        if (at + length > size) break;
        // Rows are texts of the Windows-1252 code page, whatever the user's code page is.
        std::string row(reinterpret_cast<const char*>(data + at), length);
        row.resize(strlen(row.c_str()));
        int n = MultiByteToWideChar(1252, 0, row.c_str(), -1, nullptr, 0);
        std::wstring wide(n > 0 ? n : 1, L'\0');
        if (n > 0) MultiByteToWideChar(1252, 0, row.c_str(), -1, wide.data(), n);
        if (message == kInitComboAddString)
            SendDlgItemMessageW(hwnd_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        else if (message == kInitListAddString)
            SendDlgItemMessageW(hwnd_, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        at += length;
    }
}

INT_PTR CALLBACK dialog::dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    dialog* self = from_window(window);
    if (!self && message == WM_INITDIALOG) {
        self = reinterpret_cast<dialog*>(lparam);
    } else if (!self && g_creating) {
        self = g_creating;
    }
    return dispatch(self, window, message, wparam, lparam);
}

INT_PTR CALLBACK dialog::page_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The sheet creates pages when it likes (often only when a tab is first shown), so messages before
    // WM_INITDIALOG go unhandled; WM_INITDIALOG carries the sheet's copy of the PROPSHEETPAGE.
    dialog* self = from_window(window);
    if (!self && message == WM_INITDIALOG && lparam)
        self = reinterpret_cast<dialog*>(reinterpret_cast<const PROPSHEETPAGEW*>(lparam)->lParam);
    return dispatch(self, window, message, wparam, lparam);
}

INT_PTR dialog::dispatch(dialog* self, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!self) return FALSE;
    if (!self->hwnd_) {
        self->hwnd_ = window;
        SetPropW(window, kDialogProperty, self);
    }
    INT_PTR result = FALSE;
    try {
        result = self->handle(message, wparam, lparam);
    } catch (...) {
        std::wstring text = exception_text();
        try {
            self->report_exception(text);
        } catch (...) {
        }
        result = FALSE;
    }
    if (message == WM_NCDESTROY) {
        RemovePropW(window, kDialogProperty);
        self->hwnd_ = nullptr;
        self->on_destroyed();
    }
    return result;
}

INT_PTR dialog::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result = 0;
    if (on_message(message, wparam, lparam, result)) {
        // Messages whose result is the return value itself, not DWLP_MSGRESULT.
        switch (message) {
        case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM:
        case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
            return static_cast<INT_PTR>(result);
        default:
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
    switch (message) {
    case WM_INITDIALOG:
        apply_init_data();
        return on_init_dialog() ? TRUE : FALSE;
    case WM_COMMAND: {
        int id = LOWORD(wparam);
        int code = HIWORD(wparam);
        if (on_command(id, code)) return TRUE;
        if (id == IDOK && code == BN_CLICKED) {
            on_ok();
            return TRUE;
        }
        if (id == IDCANCEL && code == BN_CLICKED) {
            on_cancel();
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        LRESULT notify_result = 0;
        if (on_notify(reinterpret_cast<NMHDR*>(lparam), notify_result)) {
            SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, notify_result);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        on_cancel();
        return TRUE;
    default:
        return FALSE;
    }
}

HPROPSHEETPAGE property_page::create_page(const wchar_t* title) {
    kind_ = kind::page;
    title_ = title ? title : L"";
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_USECALLBACK | (title_.empty() ? 0 : PSP_USETITLE);
    page.hInstance = resources_;
    page.pszTemplate = MAKEINTRESOURCEW(template_id_);
    page.pszTitle = title_.empty() ? nullptr : title_.c_str();
    page.pfnDlgProc = page_proc;
    page.lParam = reinterpret_cast<LPARAM>(static_cast<dialog*>(this));
    page.pfnCallback = page_callback;
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (!handle)
        throw std::runtime_error("Unable to create the property page " + std::to_string(template_id_) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    return handle;
}

UINT CALLBACK property_page::page_callback(HWND, UINT message, PROPSHEETPAGEW* page) {
    if (message == PSPCB_RELEASE && page) {
        try {
            reinterpret_cast<property_page*>(page->lParam)->on_page_released();
        } catch (...) {
            // The sheet is tearing down; there is no one left to tell.
        }
    }
    return 1;  // PSPCB_CREATE: let the page be made
}

}  // namespace platform
