#include "wizard/storage_pages.h"

#include "wizard/path_rules.h"
#include "wizard/resource.h"

#include <shlwapi.h>

namespace {

const wchar_t kStorageExtension[] = L".orrisafe";
const wchar_t kKeyExtension[] = L".pfx";

}  // namespace

void AttachPathAutoComplete(HWND edit) {
    SHAutoComplete(edit, SHACF_FILESYSTEM | SHACF_USETAB | SHACF_AUTOSUGGEST_FORCE_ON | SHACF_AUTOAPPEND_FORCE_ON);
}

CStoragePage::CStoragePage(CConfirmedPaths& confirmed)
    : CWizardPageBase(IDD_STORAGE_PAGE, L"Step 1 - Storage file", L"Specify new storage file name"),
      confirmed_(confirmed) {}

bool CStoragePage::on_init_dialog() {
    send_item(IDC_STORAGE_PATH, EM_LIMITTEXT, MAX_PATH);
    wchar_t directory[MAX_PATH] = L"";
    DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
    if (length > 0 && length < MAX_PATH) {
        std::wstring text = directory;
        if (text.back() != L'\\') text += L'\\';
        set_item_text(IDC_STORAGE_PATH, text);
        send_item(IDC_STORAGE_PATH, EM_SETSEL, text.size(), text.size());
    }
    AttachPathAutoComplete(item(IDC_STORAGE_PATH));
    return false;
}

void CStoragePage::SetPath(const std::wstring& path) {
    set_item_text(IDC_STORAGE_PATH, path);
    send_item(IDC_STORAGE_PATH, EM_SETSEL, path.size(), path.size());
}

bool CStoragePage::IsWhiteControl(int id) const {
    return id == IDC_PATH_LABEL;
}

void CStoragePage::UpdateState() {
    if (!host()) return;
    std::wstring path = item_text(IDC_STORAGE_PATH);
    host()->EnableNext(!path.empty() && IsUsableCompletedPath(path, kStorageExtension));
    host()->EnablePrevious(false);
}

void CStoragePage::OnSetActive(IWizardHost* host) {
    set_host(host);
    UpdateState();
    focus_item(IDC_STORAGE_PATH);
}

bool CStoragePage::on_command(int id, int code) {
    if (id == IDC_STORAGE_PATH && code == EN_CHANGE) {
        UpdateState();
        return true;
    }
    if (id == IDC_STORAGE_BROWSE && code == BN_CLICKED) {
        std::wstring chosen = BrowseForSave(item_text(IDC_STORAGE_PATH), kStorageExtension,
                                            L"Orrisafe files (*.orrisafe)|*.orrisafe|");
        if (!chosen.empty()) {
            confirmed_.Add(chosen);
            set_item_text(IDC_STORAGE_PATH, chosen);
        }
        UpdateState();
        return true;
    }
    return false;
}

void CStoragePage::OnNext() {
    std::wstring path = item_text(IDC_STORAGE_PATH);
    std::wstring completed = WithExtension(path, kStorageExtension);
    if (completed != path) set_item_text(IDC_STORAGE_PATH, completed);
    host()->GetValues()->SetText(StoragePathValue, completed);
}

CKeyFilePage::CKeyFilePage(CConfirmedPaths& confirmed)
    : CWizardPageBase(IDD_KEYFILE_PAGE, L"Step 2 - Key file", L"Specify new key file name and saving options"),
      confirmed_(confirmed) {}

bool CKeyFilePage::on_init_dialog() {
    send_item(IDC_KEY_PATH, EM_LIMITTEXT, MAX_PATH);
    AttachPathAutoComplete(item(IDC_KEY_PATH));
    check_radio(IDC_ATTACH_ONLY, IDC_SEPARATE_AND_ATTACH, IDC_ATTACH_ONLY);
    return false;
}

bool CKeyFilePage::IsWhiteControl(int id) const {
    return id == IDC_PATH_LABEL || (id >= IDC_ATTACH_ONLY && id <= IDC_SEPARATE_AND_ATTACH);
}

void CKeyFilePage::SetOption(int32_t option) {
    option_ = option;
    bool file = option != 2;
    enable_item(IDC_KEY_PATH, file);
    enable_item(IDC_KEY_BROWSE, file);
}

void CKeyFilePage::UpdateState() {
    if (!host()) return;
    std::wstring path = item_text(IDC_KEY_PATH);
    // Where a key file is written, the path it is completed to must be usable too.
    bool usable = !path.empty() && (option_ == 2 ? IsUsableFilePath(path) : IsUsableCompletedPath(path, kKeyExtension));
    // A key file may not take the storage's own place.
    if (usable && option_ != 2) {
        const std::wstring* storage = host()->GetValues()->Text(StoragePathValue);
        if (storage && IsSameFilePath(WithExtension(path, kKeyExtension), *storage)) usable = false;
    }
    host()->EnableNext(usable);
    host()->EnablePrevious(!started_with_path_);
}

void CKeyFilePage::OnSetActive(IWizardHost* host) {
    set_host(host);
    focus_item(IDC_KEY_PATH);
    if (item_text(IDC_KEY_PATH).empty()) {
        const std::wstring* storage = host->GetValues()->Text(StoragePathValue);
        if (storage && !storage->empty()) {
            std::wstring proposal = ProposeKeyFilePath(*storage);
            set_item_text(IDC_KEY_PATH, proposal);
            send_item(IDC_KEY_PATH, EM_SETSEL, proposal.size(), proposal.size());
        }
    }
    UpdateState();
}

bool CKeyFilePage::on_command(int id, int code) {
    switch (id) {
    case IDC_KEY_PATH:
        if (code != EN_CHANGE) return false;
        UpdateState();
        return true;
    case IDC_ATTACH_ONLY:
    case IDC_SEPARATE_FILE:
    case IDC_SEPARATE_AND_ATTACH:
        if (code != BN_CLICKED) return false;
        SetOption(id == IDC_ATTACH_ONLY ? 2 : id == IDC_SEPARATE_FILE ? 0 : 1);
        UpdateState();
        return true;
    case IDC_KEY_BROWSE: {
        if (code != BN_CLICKED) return false;
        std::wstring chosen = BrowseForSave(item_text(IDC_KEY_PATH), kKeyExtension, L"PKCS #12 (*.pfx)|*.pfx|");
        if (!chosen.empty()) {
            confirmed_.Add(chosen);
            set_item_text(IDC_KEY_PATH, chosen);
        }
        UpdateState();
        return true;
    }
    }
    return false;
}

void CKeyFilePage::OnNext() {
    CWizardValues* values = host()->GetValues();
    values->SetInt(KeySavingOptionValue, option_);
    std::wstring path;
    if (option_ != 2) {
        path = item_text(IDC_KEY_PATH);
        std::wstring completed = WithExtension(path, kKeyExtension);
        if (completed != path) {
            set_item_text(IDC_KEY_PATH, completed);
            path = completed;
        }
    }
    values->SetText(KeyFilePathValue, path);
}
