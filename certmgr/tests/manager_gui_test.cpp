// The manager as launchers run it: RunManager through LoadLibrary, its boxes and its dialog driven from the test's
// own thread, a second manager in another process.
#include "manager_test_support.h"

#include <certmgr/resource.h>
#include <certmgr/run_manager.h>
#include <tools/file_io.h>
#include <tools/pfx_import.h>
#include <tools/tests/test_support.h>
#include <wizard/keys/issuing_certificate.h>
#include <wizard/keys/tests/key_test_support.h>

#include <commctrl.h>
#include <doctest.h>

#include <algorithm>
#include <memory>

namespace {

const wchar_t kCaption[] = L"Orrisafe Certificates Manager";
const wchar_t kAttention[] = L"Some installed keys need your attention.";
const wchar_t kAnswersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain";
const wchar_t kManageAnswer[] = L"{87E07067-161A-4C4D-8D9C-FC9E175FF07F}";

std::wstring library_path() {
    return testing::windows_path_of(testing::env(L"ORRI_DIST_DIR")) + L"\\orricerts.dll";
}

struct manager_library {
    HMODULE module = LoadLibraryW(library_path().c_str());
    RunManagerFunction run =
        module ? reinterpret_cast<RunManagerFunction>(GetProcAddress(module, "RunManager")) : nullptr;
    ~manager_library() {
        if (module) FreeLibrary(module);
    }
};

// RunManager on a thread of its own, as a launcher's thread calls it.
class manager_run {
public:
    manager_run(RunManagerFunction run, DWORD mode) : run_(run), mode_(mode) {
        thread_ = CreateThread(nullptr, 0, body, this, 0, nullptr);
    }
    ~manager_run() {
        // A test that stopped half-way leaves boxes or the manager open: they are cancelled, so later tests start
        // without a manager running.
        for (int i = 0; i < 100 && !ended(300); ++i)
            EnumThreadWindows(GetThreadId(thread_), cancel_window, 0);
        CloseHandle(thread_);
    }
    bool ended(DWORD timeout_ms) const { return WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0; }
    int result = -1;

private:
    static BOOL CALLBACK cancel_window(HWND window, LPARAM) {
        if (IsWindowVisible(window)) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    static DWORD WINAPI body(void* context) {
        auto self = static_cast<manager_run*>(context);
        self->result = self->run_(self->mode_);
        return 0;
    }
    RunManagerFunction run_;
    DWORD mode_;
    HANDLE thread_;
};

struct row {
    std::wstring text[4];
    int group = -1;
};

std::vector<row> rows_of(HWND list) {
    std::vector<row> rows;
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        row r;
        for (int column = 0; column < 4; ++column) {
            wchar_t text[256] = L"";
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 256;
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            r.text[column] = text;
        }
        LVITEMW item{};
        item.mask = LVIF_GROUPID;
        item.iItem = i;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        r.group = item.iGroupId;
        rows.push_back(r);
    }
    return rows;
}

int index_of(HWND list, const std::wstring& name) {
    std::vector<row> rows = rows_of(list);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].text[0] == name) return static_cast<int>(i);
    return -1;
}

void click(HWND window, const RECT& area) {
    LPARAM at = MAKELPARAM((area.left + area.right) / 2, (area.top + area.bottom) / 2);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
}

// Selects a row the way a user does, by a click on it.
void click_row(HWND list, int index) {
    RECT area{};
    area.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&area));
    click(list, area);
}

void click_header(HWND list, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    RECT area{};
    SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&area));
    click(header, area);
}

int selected(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

bool grayed(HWND dialog, UINT command) {
    return (GetMenuState(GetMenu(dialog), command, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) != 0;
}

std::wstring expected_date(const FILETIME& time) {
    static const wchar_t* const months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                            L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    SYSTEMTIME date;
    FileTimeToSystemTime(&time, &date);
    return std::to_wstring(date.wDay) + L" " + months[date.wMonth - 1] + L" " + std::to_wstring(date.wYear);
}

// Counts the activation requests that reach the manager's window, as its thread takes them from its queue.
class activation_watch {
public:
    activation_watch(HWND target, UINT message) {
        target_ = target;
        message_ = message;
        seen = 0;
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, observe, nullptr, GetWindowThreadProcessId(target, nullptr));
    }
    ~activation_watch() {
        if (hook_) UnhookWindowsHookEx(hook_);
    }
    static LONG seen;

private:
    static LRESULT CALLBACK observe(int code, WPARAM wparam, LPARAM lparam) {
        auto message = reinterpret_cast<const MSG*>(lparam);
        if (code == HC_ACTION && message->hwnd == target_ && message->message == message_) InterlockedIncrement(&seen);
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }
    static HWND target_;
    static UINT message_;
    HHOOK hook_;
};
LONG activation_watch::seen = 0;
HWND activation_watch::target_ = nullptr;
UINT activation_watch::message_ = 0;

void forget_manage_answer() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kAnswersKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kManageAnswer);
        RegCloseKey(key);
    }
}

// The keys the manager is to show, installed in the user's store for the time of the test.
struct installed_keys {
    std::wstring tag = L"Orritest " + tools::guid_to_string(tools::new_guid()).substr(1, 8);
    CIssuingCertificate issuer;
    certtest::product_key soon{issuer.get(), tag + L" soon", -30, 6};
    certtest::product_key valid{issuer.get(), tag + L" valid", -2, 400};
    certtest::product_key locked{issuer.get(), tag + L" locked", -3, 500};
    certtest::product_key expired{issuer.get(), tag + L" expired", -60, -1};
    certtest::product_key future{issuer.get(), tag + L" future", 1, 300};
    // A key of another product, made the same way but issued by another certificate.
    keytest::self_signed_key other_issuer;
    certtest::product_key foreign{other_issuer.cert(), tag + L" foreign", -1, 300};
    installed_keys() {
        soon.set_key_flags(CERT_SET_KEY_CONTEXT_PROP_ID);  // as the product's own key creation records it
        locked.lock_key();
        for (certtest::product_key* key : {&soon, &valid, &locked, &expired, &future, &foreign}) key->install();
    }
    std::vector<row> ours(HWND list) const {
        std::vector<row> mine;
        for (const row& r : rows_of(list))
            if (r.text[0].compare(0, tag.size(), tag) == 0) mine.push_back(r);
        return mine;
    }
};

}  // namespace

TEST_CASE("the manager lists, sorts, views, exports, installs and deletes the user's storage keys") {
    forget_manage_answer();
    manager_library library;
    REQUIRE(static_cast<bool>(library.run));
    installed_keys keys;
    testing::scratch_dir files;

    {  // Asked first, a No opens nothing.
        manager_run run(library.run, 0x0101);  // only the low byte counts
        HWND question = certtest::wait_for_dialog(L"Orrisafe");
        REQUIRE(question);
        CHECK(certtest::static_texts(question).find(L"Do you want to manage your Orrisafe certificates now?") !=
              std::wstring::npos);
        certtest::press(question, IDNO);
        CHECK(run.ended(20000));
        CHECK(run.result == 0);
        CHECK_FALSE(certtest::find_dialog(kCaption));
    }

    manager_run run(library.run, 0);
    HWND warning = certtest::wait_for_dialog(L"Orrisafe");
    REQUIRE(warning);
    CHECK(certtest::static_texts(warning).find(kAttention) != std::wstring::npos);
    CHECK(testing::screenshot(L"certmgr-shots", "expiry-warning"));
    certtest::press(warning, IDOK);
    HWND manager = certtest::wait_for_dialog(kCaption);
    REQUIRE(manager);
    HWND list = GetDlgItem(manager, IDC_CERT_LIST);
    REQUIRE(list);
    REQUIRE(certtest::wait_until([&] { return keys.ours(list).size() == 5; }));

    // Rows in group order, each with its group, the purpose and the dates of its certificate; the other
    // product's key is not listed.
    CHECK(index_of(list, keys.foreign.name()) < 0);
    // Groups are drawn and kept by the control only where it supports them (not Wine's): there the group ids are
    // checked, everywhere the order of the rows.
    std::vector<row> rows = rows_of(list);
    bool grouped = SendMessageW(list, LVM_ISGROUPVIEWENABLED, 0, 0) != 0;
    std::vector<int> order;
    for (const certtest::product_key* key : {&keys.valid, &keys.locked, &keys.soon, &keys.expired, &keys.future})
        order.push_back(index_of(list, key->name()));
    CHECK(std::max(order[0], order[1]) < order[2]);
    CHECK(order[2] < std::min(order[3], order[4]));
    for (const certtest::product_key* key : {&keys.valid, &keys.locked, &keys.soon, &keys.expired, &keys.future}) {
        CAPTURE(tools::to_narrow(key->name()));
        int index = index_of(list, key->name());
        REQUIRE(index >= 0);
        const row& r = rows[index];
        CHECK(r.text[1] == L"Storage key");
        CHECK(r.text[2] == expected_date(key->cert()->pCertInfo->NotBefore));
        CHECK(r.text[3] == expected_date(key->cert()->pCertInfo->NotAfter));
        int group = key == &keys.soon ? 1 : (key == &keys.expired || key == &keys.future) ? 2 : 0;
        if (grouped) CHECK(r.group == group);
    }
    CHECK(testing::screenshot(L"certmgr-shots", "manager"));

    // Nothing selected: the certificate commands are grey.
    CHECK(grayed(manager, ID_VIEW_CERT));
    CHECK(grayed(manager, ID_EXPORT_CERT));
    CHECK(grayed(manager, ID_DELETE_CERT));

    {  // Export stays grey for a key that may not leave its container, not for the product's own flags.
        click_row(list, index_of(list, keys.locked.name()));
        REQUIRE(certtest::wait_until([&] { return !grayed(manager, ID_VIEW_CERT); }));
        CHECK(selected(list) == index_of(list, keys.locked.name()));
        CHECK(grayed(manager, ID_EXPORT_CERT));
        CHECK_FALSE(grayed(manager, ID_DELETE_CERT));
        click_row(list, index_of(list, keys.soon.name()));
        CHECK(certtest::wait_until([&] { return !grayed(manager, ID_EXPORT_CERT); }));
    }
    {  // A click on "Valid to" sorts its texts ascending, a second one descending.
        auto valid_to = [&] {
            std::vector<std::wstring> texts;
            for (const row& r : rows_of(list)) texts.push_back(r.text[3]);
            return texts;
        };
        click_header(list, 3);
        CHECK(certtest::wait_until([&] {
            auto texts = valid_to();
            return std::is_sorted(texts.begin(), texts.end()) && texts != std::vector<std::wstring>(rows.size());
        }));
        auto ascending = valid_to();
        click_header(list, 3);
        CHECK(certtest::wait_until([&] {
            auto texts = valid_to();
            return std::is_sorted(texts.rbegin(), texts.rend());
        }));
        auto descending = valid_to();
        CHECK(std::vector<std::wstring>(ascending.rbegin(), ascending.rend()) == descending);
    }
    {  // A second manager in another process asks this one to the front and ends; asked, this one comes.
        UINT activate = RegisterWindowMessageW(L"MSG Orrisafe Certificates Manager");
        activation_watch watch(manager, activate);
        std::wstring program = testing::windows_path_of(testing::env(L"ORRI_BUILD_DIR")) +
                               L"\\certmgr\\tests\\run_manager.exe";
        std::wstring command = L"\"" + program + L"\" \"" + library_path() + L"\" 0";
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION second{};
        REQUIRE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &second));
        // Its own warning comes first, as in every manager started while keys need attention.
        HWND second_warning = certtest::wait_for_dialog(L"Orrisafe", second.dwProcessId);
        CHECK(second_warning);
        if (second_warning) certtest::press(second_warning, IDOK);
        CHECK(WaitForSingleObject(second.hProcess, 20000) == WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(second.hProcess, &code);
        CHECK(code == 0);
        CHECK_FALSE(certtest::find_dialog(kCaption, second.dwProcessId));
        CHECK(certtest::wait_until([&] { return activation_watch::seen > 0; }));
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);

        // Which window ends up in front depends on how fast the closing boxes of the other process hand their
        // activation on, so the front is judged with a window of our own instead.
        HWND other = CreateWindowExW(0, L"STATIC", L"another program", WS_POPUP | WS_VISIBLE | WS_BORDER, 600, 500,
                                     200, 60, nullptr, nullptr, nullptr, nullptr);
        SetForegroundWindow(other);
        CHECK(certtest::wait_until([&] { return GetForegroundWindow() == other; }));
        PostMessageW(HWND_BROADCAST, activate, 0, 0);
        CHECK(certtest::wait_until([&] { return GetForegroundWindow() == manager; }));
        DestroyWindow(other);
    }
    {  // A key file installed through the menu shows as a row; a wrong password installs nothing.
        CIssuingCertificate issuer;
        certtest::product_key extra(issuer.get(), keys.tag + L" from file", -1, 200);
        std::wstring path = files.file(L"key.pfx");
        tools::write_file(path, extra.key_file());
        // A cancelled file choice shows nothing more.
        PostMessageW(manager, WM_COMMAND, ID_INSTALL_KEY, 0);
        HWND cancelled = certtest::wait_for_dialog(L"Select Orrisafe key file...");
        REQUIRE(cancelled);
        certtest::press(cancelled, IDCANCEL);
        CHECK(certtest::wait_until([&] { return !IsWindow(cancelled); }));
        CHECK_FALSE(certtest::wait_until([&] { return certtest::find_dialog(kCaption, GetCurrentProcessId(), manager); },
                                         1500));
        for (const wchar_t* typed : {L"not the password", certtest::key_password}) {
            PostMessageW(manager, WM_COMMAND, ID_INSTALL_KEY, 0);
            HWND chooser = certtest::wait_for_dialog(L"Select Orrisafe key file...");
            REQUIRE(chooser);
            certtest::set_file_name(chooser, path);
            certtest::press(chooser, IDOK);
            HWND prompt = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
            REQUIRE(prompt);
            SetDlgItemTextW(prompt, 100, typed);
            certtest::press(prompt, IDOK);
            CHECK(certtest::wait_until([&] { return !IsWindow(prompt); }));
            HWND outcome = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
            REQUIRE(outcome);
            std::wstring text = certtest::static_texts(outcome);
            bool right = typed == certtest::key_password;
            CAPTURE(tools::to_narrow(text));
            CHECK(text.find(right ? L"The import was successful." : L"Unable to install key due to the following error:")
                  != std::wstring::npos);
            certtest::press(outcome, IDOK);
            CHECK(certtest::wait_until([&] { return (index_of(list, extra.name()) >= 0) == right; }));
        }
        CHECK(extra.installed());
        // The installed copy has a container of its own, which goes with the certificate.
        tools::auto_cert_store store = tools::open_user_store(L"MY");
        tools::cert_record installed(tools::hold_cert_context(CertFindCertificateInStore(
            store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, extra.cert(), nullptr)));
        REQUIRE(installed.get());
        tools::delete_key_container(installed);
    }
    {  // An exportable key is written to a key file that opens with the password given.
        click_row(list, index_of(list, keys.soon.name()));
        REQUIRE(certtest::wait_until([&] { return !grayed(manager, ID_EXPORT_CERT); }));
        std::wstring path = files.file(L"exported.pfx");
        // A cancelled password prompt writes nothing and says nothing.
        PostMessageW(manager, WM_COMMAND, ID_EXPORT_CERT, 0);
        HWND prompt = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(prompt);
        certtest::press(prompt, IDCANCEL);
        CHECK(certtest::wait_until([&] { return !IsWindow(prompt); }));
        CHECK_FALSE(certtest::wait_until([&] { return certtest::find_dialog(kCaption, GetCurrentProcessId(), manager); },
                                         1500));

        PostMessageW(manager, WM_COMMAND, ID_EXPORT_CERT, 0);
        prompt = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(prompt);
        SetDlgItemTextW(prompt, 100, L"Exported 1");
        SetDlgItemTextW(prompt, 101, L"Exported 1");
        CHECK(testing::screenshot(L"certmgr-shots", "export-password"));
        certtest::press(prompt, IDOK);
        CHECK(certtest::wait_until([&] { return !IsWindow(prompt); }));
        HWND chooser = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(chooser);
        certtest::set_file_name(chooser, path);
        certtest::press(chooser, IDOK);
        CHECK(certtest::wait_until([&] { return !IsWindow(chooser); }));
        HWND outcome = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(outcome);
        CHECK(certtest::static_texts(outcome).find(L"The export was successful.") != std::wstring::npos);
        certtest::press(outcome, IDOK);
        // The key file also opens with the host's own reader later in the run.
        tools::byte_buffer written;
        tools::read_file(path, written);
        keytest::leave_key_file(L"manager-export", written, L"Exported 1", IssuingCertificateEncoding());
        tools::cert_list opened = tools::read_and_import_pfx(path.c_str(), L"Exported 1");
        REQUIRE(opened.size() == 1);
        CHECK(CertCompareCertificate(X509_ASN_ENCODING, opened[0].get()->pCertInfo, keys.soon.cert()->pCertInfo));
        tools::byte_buffer sealed = tools::rsa_encrypt(keys.soon.record(), tools::byte_buffer(16, 7));
        CHECK(tools::rsa_decrypt(opened[0], sealed) == tools::byte_buffer(16, 7));
        tools::delete_key_container(opened[0]);
    }

    {  // Deleting a valid key asks first, an expired one does not; no container remains.
        click_row(list, index_of(list, keys.valid.name()));
        REQUIRE(certtest::wait_until([&] { return !grayed(manager, ID_DELETE_CERT); }));
        PostMessageW(manager, WM_COMMAND, ID_DELETE_CERT, 0);
        HWND question = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(question);
        CHECK(certtest::static_texts(question).find(L"Are you sure you want to delete valid certificate?") !=
              std::wstring::npos);
        CHECK(testing::screenshot(L"certmgr-shots", "delete-question"));
        certtest::press(question, IDNO);
        CHECK(certtest::wait_until([&] { return !IsWindow(question); }));
        CHECK(keys.valid.installed());
        CHECK(index_of(list, keys.valid.name()) >= 0);

        PostMessageW(manager, WM_COMMAND, ID_DELETE_CERT, 0);
        question = certtest::wait_for_dialog(kCaption, GetCurrentProcessId(), manager);
        REQUIRE(question);
        certtest::press(question, IDYES);
        CHECK(certtest::wait_until([&] { return index_of(list, keys.valid.name()) < 0; }));
        CHECK_FALSE(keys.valid.installed());
        CHECK_FALSE(certtest::container_exists(keys.valid.container()));

        click_row(list, index_of(list, keys.expired.name()));
        REQUIRE(certtest::wait_until([&] { return selected(list) == index_of(list, keys.expired.name()); }));
        PostMessageW(manager, WM_COMMAND, ID_DELETE_CERT, 0);
        CHECK(certtest::wait_until([&] { return index_of(list, keys.expired.name()) < 0; }));
        CHECK_FALSE(certtest::find_dialog(kCaption, GetCurrentProcessId(), manager));
        CHECK_FALSE(keys.expired.installed());
        CHECK_FALSE(certtest::container_exists(keys.expired.container()));
        // Nothing else of the store was touched.
        CHECK(keys.soon.installed());
        CHECK(keys.locked.installed());
        CHECK(keys.future.installed());
    }
    PostMessageW(manager, WM_COMMAND, ID_CLOSE, 0);
    CHECK(run.ended(20000));
    CHECK(run.result == 0);
    forget_manage_answer();
}

TEST_CASE("the question's ticked answer is kept, and without keys needing attention no box shows") {
    forget_manage_answer();
    manager_library library;
    REQUIRE(static_cast<bool>(library.run));
    {
        installed_keys keys;
        manager_run asked(library.run, 1);
        HWND question = certtest::wait_for_dialog(L"Orrisafe");
        REQUIRE(question);
        CheckDlgButton(question, 100, BST_CHECKED);  // "don't ask again"
        certtest::press(question, IDYES);
        HWND manager = certtest::wait_for_dialog(kCaption);
        REQUIRE(manager);
        PostMessageW(manager, WM_COMMAND, ID_CLOSE, 0);
        CHECK(asked.ended(20000));

        manager_run remembered(library.run, 1);  // the kept Yes opens the manager without asking
        manager = certtest::wait_for_dialog(kCaption);
        REQUIRE(manager);
        CHECK_FALSE(certtest::find_dialog(L"Orrisafe"));
        PostMessageW(manager, WM_COMMAND, ID_CLOSE, 0);
        CHECK(remembered.ended(20000));
    }
    forget_manage_answer();
    // The test's keys are gone; keys other tests left valid need no attention.
    manager_run quiet(library.run, 1);
    CHECK(quiet.ended(20000));
    CHECK(quiet.result == 0);
    CHECK_FALSE(certtest::find_dialog(L"Orrisafe"));
    CHECK_FALSE(certtest::find_dialog(kCaption));
}
