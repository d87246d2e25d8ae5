#include "tools_page.h"

#include <platform/dialog_framework.h>
#include <server/idl/storage_identities.h>
#include <tools/hresult.h>
#include <tools/interface_holder.h>

#include "defragment_command.h"
#include "key_commands.h"
#include "message_boxes.h"
#include "storage_commands_resources.h"
#include "storage_freeze.h"
#include "storage_prop_sheet.h"

namespace shell {

namespace {

class CToolsPage final : public platform::property_page {
public:
    explicit CToolsPage(CStoragePropSheet* handler)
        : property_page(IDD_TOOLS_PAGE, platform::this_module()),
          handler_(tools::interface_holder<IShellExtInit>::add_ref(handler)),
          sheet_(*handler) {}

protected:
    bool on_init_dialog() override {
        sheet_.SetPageWindow(hwnd());
        SetFreezingButtons();
        RefreshKeyButtons();
        return true;
    }

    bool on_command(int id, int code) override {
        if (code != BN_CLICKED) return false;
        switch (id) {
        case IDC_VIEW_KEY:
            KeyCommand([&] { ViewKey(hwnd(), sheet_.Path()); }, L"Unable to show storage key due to internal error.");
            return true;
        case IDC_UNINSTALL_KEY:
            KeyCommand([&] { DeleteInstalledKey(hwnd(), sheet_.Path()); },
                       L"Unable to show storage key due to internal error.");
            return true;
        case IDC_INSTALL_KEY:
            KeyCommand([&] { InstallAttachedKey(hwnd(), sheet_.Path()); });
            return true;
        case IDC_ATTACH_KEY:
            KeyCommand([&] { AttachKey(hwnd(), sheet_.Path()); });
            return true;
        case IDC_DETACH_KEY:
            KeyCommand([&] { DetachKey(hwnd(), sheet_.Path()); });
            return true;
        case IDC_EXPORT_KEY:
            KeyCommand([&] { ExportKey(hwnd(), sheet_.Path()); });
            return true;
        case IDC_DEFRAGMENT:
            Report([&] { DefragmentStorage(hwnd(), sheet_.Path()); }, nullptr);
            return true;
        case IDC_FREEZE:
        case IDC_UNFREEZE: {
            const bool freeze = id == IDC_FREEZE;
            if (Report([&] { SetStorageFreeze(sheet_.Path(), freeze); },
                       freeze ? L"Unable to freeze the storage." : L"Unable to unfreeze the storage.")) {
                sheet_.SetFrozen(freeze);
                SetFreezingButtons();
            }
            return true;
        }
        default:
            return false;
        }
    }

    void on_page_released() override { delete this; }

private:
    // Runs a command; a failure is shown with the heading (the general one when none) and reported as false.
    template <class Command>
    bool Report(Command&& command, const wchar_t* heading) {
        HRESULT hr = tools::com_boundary(command);
        if (SUCCEEDED(hr)) return true;
        ShowErrorBox(hwnd(), static_cast<DWORD>(hr), heading);
        return false;
    }

    // A key command, then the key buttons as the storage now is, whether the command succeeded or not. After a
    // failure already shown, a storage that cannot be read is not told of a second time.
    template <class Command>
    void KeyCommand(Command&& command, const wchar_t* heading = nullptr) {
        RefreshKeyButtons(Report(command, heading));
    }

    void SetFreezingButtons() {
        enable_item(IDC_UNFREEZE, sheet_.Frozen());
        enable_item(IDC_FREEZE, !sheet_.Frozen());
    }

    // When the storage cannot be read, the buttons stay as they were.
    void RefreshKeyButtons(bool report = true) {
        HRESULT hr = tools::com_boundary([&] { sheet_.RereadKeyState(); });
        if (FAILED(hr)) {
            if (report) ShowErrorBox(hwnd(), static_cast<DWORD>(hr));
            return;
        }
        const bool installed = sheet_.KeyInstalled();
        const bool attached = (sheet_.Flags() & StorageFlagKeyAttached) != 0;
        enable_item(IDC_VIEW_KEY, installed);
        enable_item(IDC_UNINSTALL_KEY, installed);
        enable_item(IDC_ATTACH_KEY, !attached);
        enable_item(IDC_DETACH_KEY, attached);
        enable_item(IDC_EXPORT_KEY, attached);
        enable_item(IDC_INSTALL_KEY, attached && !installed);
    }

    tools::interface_holder<IShellExtInit> handler_;  // the page's reference
    CStoragePropSheet& sheet_;
};

}  // namespace

HPROPSHEETPAGE CreateToolsPage(CStoragePropSheet* handler) noexcept {
    CToolsPage* page = nullptr;
    try {
        page = new CToolsPage(handler);
        // From here the sheet's release of the page deletes it.
        return page->create_page(L"Orrisafe tools");
    } catch (...) {
        delete page;
        return nullptr;
    }
}

}  // namespace shell
