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

namespace {

const wchar_t kCaption[] = L"Orrisafe Certificates Manager";
const wchar_t kManageAnswer[] = L"{87E07067-161A-4C4D-8D9C-FC9E175FF07F}";

std::wstring library_path() {
    return testing::windows_path_of(testing::env(L"ORRI_DIST_DIR")) + L"\\orricerts.dll";
}

// RunManager on a thread of its own, as a launcher's thread calls it.
class manager_run {
public:
    manager_run(RunManagerFunction run, DWORD mode) : run_(run), mode_(mode) {
        thread_ = CreateThread(nullptr, 0, body, this, 0, nullptr);
    }
    ~manager_run() {
        // A test stopped half-way leaves boxes or the manager open: cancelled, so later runs start without one.
        for (int i = 0; i < 100 && !ended(300); ++i) EnumThreadWindows(GetThreadId(thread_), cancel, 0);
        CloseHandle(thread_);
    }
    bool ended(DWORD timeout_ms) const { return WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0; }
    int result = -1;

private:
    static BOOL CALLBACK cancel(HWND window, LPARAM) {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
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

// Counts the activation requests that the manager's thread takes from its queue for the manager's window.
class activation_watch {
public:
    activation_watch(HWND target, UINT message) {
        target_ = target;
        message_ = message;
        seen = 0;
        hook_ = SetWindowsHookExW(WH_GETMESSAGE, observe, nullptr, GetWindowThreadProcessId(target, nullptr));
    }
    ~activation_watch() { UnhookWindowsHookEx(hook_); }
    static inline LONG seen = 0;

private:
    static LRESULT CALLBACK observe(int code, WPARAM wparam, LPARAM lparam) {
        auto message = reinterpret_cast<const MSG*>(lparam);
        if (code == HC_ACTION && message->hwnd == target_ && message->message == message_) InterlockedIncrement(&seen);
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }
    static inline HWND target_ = nullptr;
    static inline UINT message_ = 0;
    HHOOK hook_;
};

std::wstring cell(HWND list, int row, int column) { return testing::list_view_text(list, row, column); }

int row_of(HWND list, const std::wstring& name) {
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        if (cell(list, i, 0) == name) return i;
    return -1;
}

std::vector<std::wstring> column_texts(HWND list, int column) {
    std::vector<std::wstring> texts;
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) texts.push_back(cell(list, i, column));
    return texts;
}

void click(HWND window, const RECT& area) {
    LPARAM at = MAKELPARAM((area.left + area.right) / 2, (area.top + area.bottom) / 2);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
}

// Selects a row the way a user does: scrolled into view (keys that other programs installed may fill the list
// beyond its height), then a click on it; waits until the list has it selected.
bool select_row(HWND list, const std::wstring& name) {
    int row = row_of(list, name);
    if (row < 0) return false;
    SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
    RECT area{LVIR_LABEL};
    SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&area));
    click(list, area);
    return certtest::wait_until([&] {
        return SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) == row_of(list, name);
    });
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

void forget_manage_answer() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain",
                       kManageAnswer);
}

// The next box of the manager's process with that caption, other than the manager; its texts come with it.
HWND next_box(const wchar_t* caption, HWND manager) {
    return keytest::wait_for_dialog(caption, 20000, GetCurrentProcessId(), manager);
}

bool no_box_follows(HWND manager) {
    return !certtest::wait_until([&] { return keytest::find_dialog(kCaption, GetCurrentProcessId(), manager); }, 1500);
}

bool contains(HWND box, const wchar_t* text) {
    return box && keytest::dialog_text(box).find(text) != std::wstring::npos;
}

// Answers a box and waits until it is gone, so that the next box with the same caption is another one.
void answer(HWND box, int id) {
    certtest::press(box, id);
    certtest::wait_until([&] { return !IsWindow(box); });
}

}  // namespace

TEST_CASE("the manager warns, asks, lists, sorts, exports, installs and deletes the user's storage keys") {
    forget_manage_answer();
    HMODULE library = LoadLibraryW(library_path().c_str());
    auto run = library ? reinterpret_cast<RunManagerFunction>(GetProcAddress(library, "RunManager")) : nullptr;
    REQUIRE(static_cast<bool>(run));

    std::wstring tag = L"Orritest " + tools::guid_to_string(tools::new_guid()).substr(1, 8);
    testing::scratch_dir files;
    CIssuingCertificate issuing;
    PCCERT_CONTEXT issuer = issuing.get();
    certtest::product_key soon(issuer, tag + L" soon", -30, 6), valid(issuer, tag + L" valid", -2, 400),
        locked(issuer, tag + L" locked", -3, 500), expired(issuer, tag + L" expired", -60, -1),
        future(issuer, tag + L" future", 1, 300);
    keytest::self_signed_key other_issuer;  // a key of another product, made the same way
    certtest::product_key foreign(other_issuer.cert(), tag + L" foreign", -1, 300);
    soon.set_key_flags(CERT_SET_KEY_CONTEXT_PROP_ID);  // as the product's own key creation records it
    locked.lock_key();
    for (certtest::product_key* key : {&soon, &valid, &locked, &expired, &future, &foreign}) key->install();

    {  // Only asked (any low byte but 0): No opens nothing.
        manager_run asked(run, 0x0101);
        HWND question = keytest::wait_for_dialog(L"Orrisafe");
        CHECK(contains(question, L"Do you want to manage your Orrisafe certificates now?"));
        answer(question, IDNO);
        CHECK(asked.ended(20000));
        CHECK(asked.result == 0);
        CHECK_FALSE(keytest::find_dialog(kCaption));
    }

    manager_run session(run, 0);
    HWND warning = keytest::wait_for_dialog(L"Orrisafe");
    CHECK(contains(warning, L"Some installed keys need your attention."));
    CHECK(testing::screenshot(L"certmgr-shots", "expiry-warning"));
    answer(warning, IDOK);
    HWND manager = keytest::wait_for_dialog(kCaption);
    REQUIRE(manager);
    HWND list = GetDlgItem(manager, IDC_CERT_LIST);
    REQUIRE(certtest::wait_until([&] { return row_of(list, future.name()) >= 0; }));

    {  // Rows in group order (groups are drawn, and keep ids, only where the control has them: not on Wine), the
       // purpose and the dates of each key; the other product's key is not listed.
        CHECK(row_of(list, foreign.name()) < 0);
        CHECK(std::max(row_of(list, valid.name()), row_of(list, locked.name())) < row_of(list, soon.name()));
        CHECK(row_of(list, soon.name()) < std::min(row_of(list, expired.name()), row_of(list, future.name())));
        bool grouped = SendMessageW(list, LVM_ISGROUPVIEWENABLED, 0, 0) != 0;
        for (const certtest::product_key* key : {&valid, &locked, &soon, &expired, &future}) {
            CAPTURE(tools::to_narrow(key->name()));
            int row = row_of(list, key->name());
            CHECK(cell(list, row, 1) == L"Storage key");
            CHECK(cell(list, row, 2) == expected_date(key->cert()->pCertInfo->NotBefore));
            CHECK(cell(list, row, 3) == expected_date(key->cert()->pCertInfo->NotAfter));
            LVITEMW item{LVIF_GROUPID, row};
            SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            if (grouped) CHECK(item.iGroupId == (key == &soon ? 1 : key == &expired || key == &future ? 2 : 0));
        }
        CHECK(testing::screenshot(L"certmgr-shots", "manager"));
    }
    {  // The certificate commands: grey without a selection; Export grey for a key that may not leave its
       // container, not for the flags the product's key creation records.
        CHECK(grayed(manager, ID_VIEW_CERT));
        CHECK(grayed(manager, ID_DELETE_CERT));
        REQUIRE(select_row(list, locked.name()));
        CHECK(certtest::wait_until([&] { return !grayed(manager, ID_VIEW_CERT); }));
        CHECK(grayed(manager, ID_EXPORT_CERT));
        REQUIRE(select_row(list, soon.name()));
        CHECK(certtest::wait_until([&] { return !grayed(manager, ID_EXPORT_CERT); }));
    }
    {  // A click on "Valid to" sorts its texts ascending, a second one descending.
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        RECT area{};
        SendMessageW(header, HDM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&area));
        click(header, area);
        CHECK(certtest::wait_until([&] {
            auto texts = column_texts(list, 3);
            return std::is_sorted(texts.begin(), texts.end()) && texts.front() != texts.back();
        }));
        click(header, area);
        CHECK(certtest::wait_until([&] {
            auto texts = column_texts(list, 3);
            return std::is_sorted(texts.rbegin(), texts.rend()) && texts.front() != texts.back();
        }));
    }
    {  // A second manager in another process asks this one to the front and ends; asked, this one comes.
        UINT activate = RegisterWindowMessageW(L"MSG Orrisafe Certificates Manager");
        activation_watch watch(manager, activate);
        std::wstring command = L"\"" + testing::windows_path_of(testing::env(L"ORRI_BUILD_DIR")) +
                               L"\\certmgr\\tests\\run_manager.exe\" \"" + library_path() + L"\" 0";
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION second{};
        REQUIRE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &second));
        // Its own warning comes first, as in every manager started while keys need attention.
        if (HWND second_warning = keytest::wait_for_dialog(L"Orrisafe", 20000, second.dwProcessId))
            certtest::press(second_warning, IDOK);
        CHECK(WaitForSingleObject(second.hProcess, 20000) == WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeProcess(second.hProcess, &code);
        CHECK(code == 0);
        CHECK(certtest::wait_until([&] { return activation_watch::seen > 0; }));
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);
        // Which window ends in front depends on how fast the other process's closing boxes hand activation on,
        // so the coming to the front is judged from a window of this test's own.
        HWND other = CreateWindowExW(0, L"STATIC", L"another program", WS_POPUP | WS_VISIBLE | WS_BORDER, 600, 500,
                                     200, 60, nullptr, nullptr, nullptr, nullptr);
        SetForegroundWindow(other);
        CHECK(certtest::wait_until([&] { return GetForegroundWindow() == other; }));
        PostMessageW(HWND_BROADCAST, activate, 0, 0);
        CHECK(certtest::wait_until([&] { return GetForegroundWindow() == manager; }));
        DestroyWindow(other);
    }
    {  // Export: a cancelled prompt writes nothing; then a key file that opens with the password given.
        std::wstring path = files.file(L"exported.pfx");
        REQUIRE(select_row(list, soon.name()));
        PostMessageW(manager, WM_COMMAND, ID_EXPORT_CERT, 0);
        answer(next_box(kCaption, manager), IDCANCEL);
        CHECK(no_box_follows(manager));
        PostMessageW(manager, WM_COMMAND, ID_EXPORT_CERT, 0);
        HWND prompt = next_box(kCaption, manager);
        REQUIRE(prompt);
        SetDlgItemTextW(prompt, 100, L"Exported 1");
        SetDlgItemTextW(prompt, 101, L"Exported 1");
        CHECK(testing::screenshot(L"certmgr-shots", "export-password"));
        answer(prompt, IDOK);
        HWND chooser = next_box(kCaption, manager);
        REQUIRE(chooser);
        certtest::set_file_name(chooser, path);
        answer(chooser, IDOK);
        HWND outcome = next_box(kCaption, manager);
        CHECK(contains(outcome, L"The export was successful."));
        answer(outcome, IDOK);
        tools::byte_buffer written;
        tools::read_file(path, written);
        keytest::leave_key_file(L"manager-export", written, L"Exported 1", IssuingCertificateEncoding());
        tools::cert_list opened = tools::import_pfx(written, L"Exported 1");
        REQUIRE(opened.size() == 1);
        CHECK(CertCompareCertificate(X509_ASN_ENCODING, opened[0].get()->pCertInfo, soon.cert()->pCertInfo));
        tools::byte_buffer sealed = tools::rsa_encrypt(soon.record(), tools::byte_buffer(16, 7));
        CHECK(tools::rsa_decrypt(opened[0], sealed) == tools::byte_buffer(16, 7));
        tools::delete_key_container(opened[0]);
    }
    {  // Install: a cancelled file choice says nothing; a wrong password installs nothing; then the row shows.
        certtest::product_key extra(issuer, tag + L" from file", -1, 200);
        std::wstring path = files.file(L"key.pfx");
        tools::write_file(path, extra.key_file());
        PostMessageW(manager, WM_COMMAND, ID_INSTALL_KEY, 0);
        answer(keytest::wait_for_dialog(L"Select Orrisafe key file..."), IDCANCEL);
        CHECK(no_box_follows(manager));
        for (const wchar_t* typed : {L"not the password", certtest::key_password}) {
            PostMessageW(manager, WM_COMMAND, ID_INSTALL_KEY, 0);
            HWND chooser = keytest::wait_for_dialog(L"Select Orrisafe key file...");
            REQUIRE(chooser);
            certtest::set_file_name(chooser, path);
            answer(chooser, IDOK);
            HWND prompt = next_box(kCaption, manager);
            REQUIRE(prompt);
            SetDlgItemTextW(prompt, 100, typed);
            answer(prompt, IDOK);
            bool right = typed == certtest::key_password;
            HWND outcome = next_box(kCaption, manager);
            CHECK(contains(outcome, right ? L"The import was successful."
                                          : L"Unable to install key due to the following error:"));
            answer(outcome, IDOK);
            CHECK(certtest::wait_until([&] { return (row_of(list, extra.name()) >= 0) == right; }));
        }
        // The installed copy has a container of its own, which goes with it.
        tools::auto_cert_store store = tools::open_user_store(L"MY");
        tools::cert_record installed(tools::hold_cert_context(CertFindCertificateInStore(
            store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, extra.cert(), nullptr)));
        REQUIRE(installed.get());
        tools::delete_key_container(installed);
    }
    {  // Delete: every key only after a Yes, the question saying that its storages will need their key file (the
       // valid key's question keeps its words); Return answers No. A deleted key does not leave its container.
        const wchar_t note[] = L"Note: Storages protected with this certificate will need their key file to be opened again.";
        struct case_t {
            certtest::product_key* key;
            const wchar_t* question;
            const char* shot;
        };
        for (const case_t& c : {case_t{&valid, L"Are you sure you want to delete valid certificate?", "delete-question"},
                                case_t{&expired, L"Are you sure you want to delete this certificate?",
                                       "delete-expired-question"}}) {
            CAPTURE(tools::to_narrow(c.key->name()));
            REQUIRE(select_row(list, c.key->name()));
            PostMessageW(manager, WM_COMMAND, ID_DELETE_CERT, 0);
            HWND question = next_box(kCaption, manager);
            CHECK(contains(question, c.question));
            CHECK(contains(question, note));
            CHECK(testing::screenshot(L"certmgr-shots", c.shot));
            PostMessageW(question, WM_KEYDOWN, VK_RETURN, 0);
            CHECK(certtest::wait_until([&] { return !IsWindow(question); }));
            CHECK(no_box_follows(manager));
            CHECK(c.key->installed());
            CHECK(row_of(list, c.key->name()) >= 0);
            PostMessageW(manager, WM_COMMAND, ID_DELETE_CERT, 0);
            answer(next_box(kCaption, manager), IDYES);
            CHECK(certtest::wait_until([&] { return row_of(list, c.key->name()) < 0; }));
            CHECK_FALSE(c.key->installed());
            CHECK_FALSE(keytest::container_exists(c.key->container()));
        }
        CHECK((soon.installed() && locked.installed() && future.installed() && foreign.installed()));
    }
    PostMessageW(manager, WM_COMMAND, ID_CLOSE, 0);
    CHECK(session.ended(20000));
    CHECK(session.result == 0);

    {  // A ticked Yes is kept: the manager then opens without asking.
        for (bool first : {true, false}) {
            manager_run asked(run, 1);
            if (first) {
                HWND question = keytest::wait_for_dialog(L"Orrisafe");
                REQUIRE(question);
                CheckDlgButton(question, 100, BST_CHECKED);  // "don't ask again"
                answer(question, IDYES);
            }
            HWND opened = keytest::wait_for_dialog(kCaption);
            REQUIRE(opened);
            CHECK_FALSE(keytest::find_dialog(L"Orrisafe"));
            PostMessageW(opened, WM_COMMAND, ID_CLOSE, 0);
            CHECK(asked.ended(20000));
        }
        forget_manage_answer();
    }
    {  // Once no key needs attention, nothing is shown at all.
        for (certtest::product_key* key : {&soon, &expired, &future}) {
            tools::auto_cert_store store = tools::open_user_store(L"MY");
            if (PCCERT_CONTEXT in_store = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                                     CERT_FIND_EXISTING, key->cert(), nullptr))
                CertDeleteCertificateFromStore(in_store);
        }
        manager_run quiet(run, 1);
        CHECK(quiet.ended(20000));
        CHECK(quiet.result == 0);
        CHECK_FALSE(keytest::find_dialog(L"Orrisafe"));
    }
    FreeLibrary(library);
}
