// Stands in for the platform's application framework classes (application object, dialogs), which MinGW does not have.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <string>
#include <vector>

// The image this code is linked into: a DLL's own module, the program's in an EXE.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace platform {

// The module of the code that calls it, for resources that the calling DLL or program carries itself.
inline HINSTANCE this_module() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// The one application object of a windowed program: command line, instance, start-up and exit.
class application {
public:
    application();
    virtual ~application();
    application(const application&) = delete;
    application& operator=(const application&) = delete;

    // The program's application object; a DLL has none of its own.
    static application* current() { return current_.load(); }

    HINSTANCE instance() const { return instance_; }
    // The command line split as CommandLineToArgvW splits it; element 0 is the program.
    const std::vector<std::wstring>& arguments() const { return arguments_; }
    HWND main_window() const { return main_window_; }
    void set_main_window(HWND window) { main_window_ = window; }

    // Names the registry key under HKEY_CURRENT_USER\Software where the application's settings would go.
    void set_registry_key(const wchar_t* key) { registry_key_ = key; }
    const std::wstring& registry_key() const { return registry_key_; }

    // Lets dialogs host ActiveX controls.
    void enable_control_container();
    bool control_container_enabled() const { return control_container_; }

    // Runs init_instance; when it returns false the program ends with exit_instance's code,
    // otherwise a message loop runs until WM_QUIT.
    int run();

protected:
    virtual bool init_instance() = 0;
    virtual int exit_instance() { return exit_code_; }
    void set_exit_code(int code) { exit_code_ = code; }

private:
    static std::atomic<application*> current_;
    HINSTANCE instance_;
    std::vector<std::wstring> arguments_;
    HWND main_window_ = nullptr;
    std::wstring registry_key_;
    bool control_container_ = false;
    int exit_code_ = 0;
};

class dialog;

// While alive, the top-level dialog of the given one is in its modal state (a modal window of it is open).
class modal_scope {
public:
    explicit modal_scope(dialog& owner);
    ~modal_scope();
    modal_scope(const modal_scope&) = delete;
    modal_scope& operator=(const modal_scope&) = delete;

private:
    dialog* top_;
};

// A dialog made from a resource template of the module it is given (the program's own by default): modal
// (do_modal), a child of another window (create_child) or a property-sheet page (property_page). Derived classes
// handle messages through the virtual hooks; no exception leaves the window procedure. Dialogs keep no state
// shared between threads: each may run on a thread of its own.
class dialog {
public:
    explicit dialog(UINT template_id, HINSTANCE resources = nullptr);
    virtual ~dialog();
    dialog(const dialog&) = delete;
    dialog& operator=(const dialog&) = delete;

    UINT template_id() const { return template_id_; }
    // The module whose template, menus, icons and texts this dialog uses.
    HINSTANCE resources() const { return resources_; }
    HWND hwnd() const { return hwnd_; }

    INT_PTR do_modal(HWND owner);
    void create_child(HWND parent);
    // Ends a modal dialog, destroys a child; a page presses its sheet's OK (IDOK) or Cancel (anything else).
    void end_dialog(INT_PTR result);
    // Destroys a child dialog's window; modal dialogs end and pages go with their sheet.
    void destroy();

    // The dialog object behind a window made by this framework, or null.
    static dialog* from_window(HWND window);
    // The top-level dialog this one belongs to (itself for a top-level dialog).
    dialog* top_level();

    // Control access.
    HWND item(int id) const;
    std::wstring item_text(int id) const;
    void set_item_text(int id, const std::wstring& text);
    void enable_item(int id, bool enable);
    void show_item(int id, bool show);
    bool is_item_checked(int id) const;
    void check_radio(int first, int last, int id);
    void focus_item(int id);
    LRESULT send_item(int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;

    // A message box owned by this dialog, with the top-level dialog in its modal state meanwhile.
    int message_box(const std::wstring& text, const std::wstring& caption, UINT flags);

    // The modal-state hooks: called around every modal window that a dialog of this tree opens.
    virtual void begin_modal_state();
    virtual void end_modal_state();

protected:
    // Called at WM_INITDIALOG after the template's initialisation data (list rows) is applied.
    // Return true to let the system focus the first control.
    virtual bool on_init_dialog() { return true; }
    // Returns true when the command was handled.
    virtual bool on_command(int id, int code) { return false; }
    // Returns true when handled; result is then the dialog's message result.
    virtual bool on_notify(NMHDR* header, LRESULT& result) { return false; }
    // IDOK / IDCANCEL (Enter, Esc, close box). Default: end the dialog with that result.
    virtual void on_ok();
    virtual void on_cancel();
    // First look at every message. Return true when handled; result goes back to the system.
    virtual bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) { return false; }
    // Called after the window is gone.
    virtual void on_destroyed() {}

    // Reports an exception that reached the window procedure.
    virtual void report_exception(const std::wstring& text);

private:
    enum class kind { child, modal, page };
    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static INT_PTR CALLBACK page_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static INT_PTR dispatch(dialog* self, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
    void apply_init_data();

    UINT template_id_;
    HINSTANCE resources_;
    HWND hwnd_ = nullptr;
    kind kind_ = kind::child;
    int modal_depth_ = 0;
    friend class modal_scope;
    friend class property_page;
};

// A dialog that lives as a page of a property sheet. The sheet passes the page's WM_INITDIALOG a PROPSHEETPAGE
// whose lParam leads to this object. Sheet notifications (PSN_APPLY, PSN_SETACTIVE...) arrive through on_notify.
class property_page : public dialog {
public:
    explicit property_page(UINT template_id, HINSTANCE resources = nullptr) : dialog(template_id, resources) {}

    // The page handle to give a sheet (PropertySheet, an AddPages callback). title: the tab's text, or null for the
    // template's caption. The object must live until on_page_released; a handle that no sheet takes is freed with
    // DestroyPropertySheetPage. Throws std::runtime_error when the page cannot be made.
    HPROPSHEETPAGE create_page(const wchar_t* title = nullptr);

protected:
    // The sheet has let the page go: its window is gone and no message will come. An object the sheet owns
    // (a shell extension's page) deletes or releases itself here.
    virtual void on_page_released() {}

private:
    static UINT CALLBACK page_callback(HWND window, UINT message, PROPSHEETPAGEW* page);
    std::wstring title_;
};

}  // namespace platform
