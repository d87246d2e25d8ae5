// The manager's window: the user's storage keys grouped by validity, with view, export, delete and install.
#pragma once
#include "certmgr/cert_classification.h"

#include <platform/dialog_framework.h>
#include <tools/auto_handle.h>

#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

class CCertManagerDlg : public platform::dialog {
public:
    // issuing: the certificate that issues storage keys (borrowed). resources: the module with the dialog's template.
    CCertManagerDlg(PCCERT_CONTEXT issuing, HINSTANCE resources);
    ~CCertManagerDlg() override;

    // Fills the list again from the user's "MY" store; errors are shown.
    void Refresh();

protected:
    bool on_init_dialog() override;
    bool on_command(int id, int code) override;
    bool on_notify(NMHDR* header, LRESULT& result) override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;
    void on_ok() override;

private:
    struct CRow {
        tools::auto_cert_context cert;
        DWORD group = GroupValid;
        std::wstring issued_to, purpose, valid_from, valid_to;
        const std::wstring& Column(int column) const;
    };

    bool TakeSingleInstance();
    void SetUpList();
    void FillList();
    int SelectedRow() const;
    CRow* RowAt(int index) const;
    // Greys or enables the certificate commands for the selected row; returns whether a row is selected.
    bool UpdateMenu(bool with_actions);
    void ShowCertificateMenu(POINT screen);
    void ViewSelected();
    void ExportSelected();
    void DeleteSelected();
    void Sort(int column);
    void ShowError(const std::wstring& text);
    void OpenUserGuide();
    void Paint();
    static int CALLBACK CompareRows(LPARAM first, LPARAM second, LPARAM sort);

    PCCERT_CONTEXT issuing_;
    HWND list_ = nullptr;
    HIMAGELIST images_ = nullptr;
    tools::auto_icon big_icon_;
    tools::auto_icon small_icon_;
    CValidityMap validity_;
    tools::auto_cert_store store_;
    UINT activate_message_ = 0;
    tools::auto_kernel_handle instance_mutex_;
    std::vector<std::unique_ptr<CRow>> rows_;
    int sort_column_ = 0;
    int directions_[4] = {1, 1, 1, 1};
};
