// The library's entry: start-up checks, the expiry warning or question, then the manager dialog.
#include "certmgr/run_manager.h"

#include "certmgr/cert_classification.h"
#include "certmgr/cert_manager_dlg.h"
#include "certmgr/manager_texts.h"

#include <comdef.h>
#include <commctrl.h>
#include <platform/check_box_message_box.h>
#include <platform/dialog_framework.h>
#include <tools/activation_context.h>
#include <tools/certificates.h>
#include <tools/com_initializer.h>
#include <tools/program_start.h>
#include <tools/text.h>
#include <tools/win_except.h>
#include <wizard/keys/issuing_certificate.h>

#include <exception>
#include <string>

namespace {

const wchar_t kAttention[] =
    L"Some installed keys need your attention.\n\nIn order to save your data please prolong your licenses if necessary "
    L"or back up datas wich are stored in Orrisafe storages protected with certificates that will soon expire.";
const wchar_t kManageNow[] = L"\n\nDo you want to manage your Orrisafe certificates now?";
const wchar_t kManageAnswerValue[] = L"{87E07067-161A-4C4D-8D9C-FC9E175FF07F}";

// The certificate that issues every storage key: only its encoding is needed, so no key is imported with it.
tools::auto_cert_context issuing_certificate() {
    tools::byte_buffer encoding = IssuingCertificateEncoding();
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, encoding.data(),
                                                       static_cast<DWORD>(encoding.size()));
    if (!cert) _com_issue_error(E_ACCESSDENIED);
    return tools::auto_cert_context(cert);
}

void RunManagerDialog(PCCERT_CONTEXT issuing) {
    CCertManagerDlg dialog(issuing, platform::this_module());
    dialog.do_modal(nullptr);
}

int AskManageKeys(HWND owner) {
    static const platform::check_box_message_box_function ask = platform::bound_check_box_message_box();
    if (!ask) return -1;
    std::wstring text = std::wstring(kAttention) + kManageNow;
    return ask(owner, text.c_str(), L"Orrisafe", MB_TOPMOST | MB_ICONWARNING | MB_YESNO, IDYES, kManageAnswerValue);
}

int CheckKeysAttention(PCCERT_CONTEXT issuing, HCERTSTORE store, bool ask) {
    CValidityMap groups;
    ClassifyStoreCertificates(issuing, groups, store);
    if (groups[GroupSoonExpire].empty() && groups[GroupExpiredOrNotYetValid].empty()) return 0;
    if (!ask) {
        MessageBoxW(nullptr, kAttention, L"Orrisafe", MB_TOPMOST | MB_ICONWARNING);
    } else if (AskManageKeys(nullptr) == IDYES) {
        RunManagerDialog(issuing);
    }
    return 0;
}

void ShowStartError(const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), kManagerCaption, MB_OK | MB_ICONERROR);
}

void StartCertManager(BYTE mode) {
    try {
        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFFFF};
        InitCommonControlsEx(&controls);
        tools::auto_cert_context issuing = issuing_certificate();
        tools::auto_cert_store store = tools::open_user_store(L"MY");
        if (mode == 0) {
            CheckKeysAttention(issuing.get(), store.get(), false);
            RunManagerDialog(issuing.get());
        } else {
            CheckKeysAttention(issuing.get(), store.get(), true);
        }
    } catch (const _com_error& e) {
        ShowStartError(kErrorPrefix + tools::format_win_error(static_cast<DWORD>(e.Error())));
    } catch (const std::exception& e) {
        ShowStartError(kErrorPrefix + tools::to_wide(e.what()));
    } catch (...) {
        ShowStartError(L"Undefined error has occured");
    }
}

}  // namespace

extern "C" int WINAPI RunManager(DWORD mode) {
    try {
        // Done here, not while the library loads: a box and the end of the process have no place under the
        // loader lock. The product mutex is then held until the library unloads.
        static const tools::auto_kernel_handle product_mutex = tools::start_or_end_process(kManagerCaption);
        tools::activation_scope common_controls(platform::this_module());
        // OLE for the calling thread while the manager runs (the certificate dialogs want it); a thread that
        // joined COM otherwise keeps its apartment and the manager runs all the same.
        tools::com_initializer ole(tools::com_threading::ole);
        StartCertManager(static_cast<BYTE>(mode & 0xFF));
    } catch (...) {
        // Every failure was shown already; nothing leaves the library.
    }
    return 0;
}
