// The Finish step of the summary page: the questions and messages around the creation itself.
#include "wizard/summary_page.h"

#include "tools/file_io.h"
#include "tools/text.h"
#include "wizard/keys/key_installation.h"
#include "wizard/storage_creation.h"

#include <exception>

namespace {

const wchar_t kCaption[] = L"Orrisafe Wizard";

// The wait cursor and a disabled page while the key and the storage are made.
class CBusyPage {
public:
    explicit CBusyPage(HWND page) : page_(page), cursor_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {
        EnableWindow(page_, FALSE);
    }
    ~CBusyPage() {
        SetCursor(cursor_);
        EnableWindow(page_, TRUE);
    }
    CBusyPage(const CBusyPage&) = delete;
    CBusyPage& operator=(const CBusyPage&) = delete;

private:
    HWND page_;
    HCURSOR cursor_;
};

}  // namespace

bool CSummaryPage::ConfirmReplace(const std::wstring& path) {
    // A save dialog's overwrite prompt already asked about this path.
    if (confirmed_.Contains(path)) return true;
    return message_box(L"The file '" + path + L"' already exists.\nDo you want to replace it?", kCaption,
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void CSummaryPage::OnFinish() {
    CStorageCreationRequest request;
    tools::byte_buffer pfx;
    try {
        request = ReadStorageCreationRequest(*host()->GetValues());
        // Only a file is offered for replacement; a folder there is refused by the creation itself.
        if (FileStandsAt(request.storage_path)) {
            if (!ConfirmReplace(request.storage_path)) return;
            request.replace_storage = true;
        }
        if (request.option != AttachOnly && FileStandsAt(request.key_file_path)) {
            if (!ConfirmReplace(request.key_file_path)) return;
            request.replace_key_file = true;
        }
        CBusyPage busy(hwnd());
        pfx = CreateStorageAndKey(request);
    } catch (const std::exception& e) {
        message_box(tools::to_wide(e.what()), kCaption, MB_OK | MB_ICONERROR);
        return;
    } catch (...) {
        message_box(L"Unspecified error", kCaption, MB_OK | MB_ICONERROR);
        return;
    }
    host()->Close();

    int answer;
    {
        platform::modal_scope modal(*this);
        answer = AskInstallKey(hwnd());
    }
    if (answer != IDYES) return;
    platform::modal_scope modal(*this);
    if (request.option != AttachOnly) {
        InstallKey(hwnd(), request.key_file_path.c_str(), kCaption);
        return;
    }
    // A key that is only attached reaches the import wizard through a temporary file, removed afterwards.
    std::wstring temporary;
    try {
        temporary = TempKeyFilePath();
        tools::write_file(temporary, pfx);
        InstallKey(hwnd(), temporary.c_str(), kCaption);
    } catch (const std::exception& e) {
        MessageBoxW(hwnd(),
                    (L"Unable to install key due to the following error:\n\n   " + tools::to_wide(e.what()) +
                     L"\n\nPlease try to install the key manually.").c_str(),
                    kCaption, MB_OK | MB_ICONERROR);
    }
    if (!temporary.empty()) DeleteFileW(temporary.c_str());
}
