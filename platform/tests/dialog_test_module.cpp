// A DLL that makes its dialogs from its own templates, as the certificate manager and the shell extension do.
#include "dialog_test_module.h"
#include "dialog_test_resources.h"

#include "platform/dialog_framework.h"

#include <cwchar>

namespace {

class module_page : public platform::property_page {
public:
    explicit module_page(module_page_log* log) : property_page(IDD_PAGE, platform::this_module()), log_(log) {}

protected:
    bool on_init_dialog() override {
        log_->window = hwnd();
        wcsncpy(log_->text, item_text(IDC_SAMPLE_TEXT).c_str(), 63);
        InterlockedIncrement(&log_->initialised);
        return true;
    }
    bool on_notify(NMHDR* header, LRESULT& result) override {
        if (header->code != static_cast<UINT>(PSN_APPLY)) return false;
        InterlockedIncrement(&log_->applied);
        result = PSNRET_NOERROR;
        return true;
    }
    void on_page_released() override {
        InterlockedIncrement(&log_->released);
        delete this;
    }

private:
    module_page_log* log_;
};

}  // namespace

extern "C" __declspec(dllexport) HPROPSHEETPAGE create_module_page(module_page_log* log) {
    module_page* page = nullptr;
    try {
        page = new module_page(log);
        return page->create_page();
    } catch (...) {
        delete page;
        return nullptr;
    }
}
