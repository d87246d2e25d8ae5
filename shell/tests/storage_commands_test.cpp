// The storage file's own commands against the installed service, driven on the screen as a user would: freezing,
// the key commands with their dialogs, analysis and defragmentation with the wait dialog.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <platform/pfx_export.h>
#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <server/tests/service_fixture.h>
#include <shell/defragment_command.h>
#include <shell/input_prompt_resources.h>
#include <shell/key_commands.h>
#include <shell/storage_commands_resources.h>
#include <shell/storage_analysis.h>
#include <shell/storage_at_path.h>
#include <shell/storage_freeze.h>
#include <shell/storage_freeze_query.h>
#include <shell/storage_key_map.h>
#include <shell/storage_unlock.h>
#include <shell/transient_secrets.h>
#include <tools/file_io.h>
#include <tools/hresult.h>
#include <tools/pfx_import.h>
#include <tools/win_except.h>
#include <tools/tests/compound_file.h>
#include <tools/tests/test_support.h>
#include <wizard/keys/tests/key_test_support.h>

#include "background_call.h"
#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

// Texts in failure reports.
template <>
struct doctest::StringMaker<std::wstring> {
    static String convert(const std::wstring& text) { return tools::to_narrow(text).c_str(); }
};

namespace {

bool is_password_prompt(HWND w) { return IsWindowVisible(GetDlgItem(w, IDC_INPUT_MASKED)) != FALSE; }

// A message box captioned "Orrisafe" whose text starts so.
HWND WaitForBox(const std::wstring& start, DWORD timeout_ms = 15000) {
    return WaitForWindow(
        L"Orrisafe", [&](HWND w) { return !GetDlgItem(w, IDC_INPUT_MASKED) && BoxText(w).rfind(start, 0) == 0; },
        timeout_ms);
}

// Answers a box: its text, after the button was pressed (empty when no box came).
std::wstring Answer(const std::wstring& start, int button) {
    HWND box = WaitForBox(start);
    if (!box) return L"";
    std::wstring text = BoxText(box);
    Press(box, button);
    WaitUntilGone(box);
    return text;
}

// Names a file in the open or save dialog of that title and presses OK, or cancels it; the dialog, null when none came.
HWND FillFileDialog(const std::wstring& title, const std::wstring& file) {
    HWND dialog = WaitForWindow(title);
    if (!dialog) return nullptr;
    if (file.empty()) {
        Press(dialog, IDCANCEL);
    } else {
        // The file name box: an edit in Wine's dialog (edt1), a combo box on Windows (cmb13).
        SetDlgItemTextW(dialog, 0x480, file.c_str());
        SetDlgItemTextW(dialog, 0x47C, file.c_str());
        Press(dialog, IDOK);
    }
    return dialog;
}

bool AnswerFileDialog(const std::wstring& title, const std::wstring& file) {
    HWND dialog = FillFileDialog(title, file);
    return dialog && WaitUntilGone(dialog);
}

// Answers the box that the window opened over itself (a picture taken first when named): its text, empty when none
// came.
std::wstring AnswerOwnedBox(HWND owner, int button, const std::string& shot = "") {
    HWND box = WaitForTopWindow([owner](HWND w) { return GetWindow(w, GW_OWNER) == owner; }, 5000);
    if (!box) return L"";
    if (!shot.empty()) testing::screenshot(L"shell-shots", shot);
    std::wstring text = BoxText(box);
    Press(box, button);
    WaitUntilGone(box);
    return text;
}

bool AnswerPassword(const wchar_t* password) {
    HWND prompt = WaitForWindow(L"Orrisafe", is_password_prompt);
    if (!prompt) return false;
    SetDlgItemTextW(prompt, IDC_INPUT_MASKED, password);
    Press(prompt, IDOK);
    return true;
}

// A key file (under the tests' password) with the certificate and the private key of another certificate, or none.
tools::byte_buffer KeyFileOf(PCCERT_CONTEXT cert, PCCERT_CONTEXT key_of) {
    tools::auto_cert_store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    REQUIRE(store);
    PCCERT_CONTEXT added = nullptr;
    REQUIRE(CertAddEncodedCertificateToStore(store.get(), cert->dwCertEncodingType, cert->pbCertEncoded,
                                             cert->cbCertEncoded, CERT_STORE_ADD_ALWAYS, &added));
    tools::auto_cert_context held(added);
    if (key_of) {
        DWORD size = 0;
        REQUIRE(CertGetCertificateContextProperty(key_of, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
        std::vector<BYTE> info(size);
        REQUIRE(CertGetCertificateContextProperty(key_of, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
        REQUIRE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()));
    }
    std::vector<unsigned char> blob;
    REQUIRE(platform::write_pfx(store.get(), key_password, blob));
    return blob;
}

tools::auto_variant Property(const std::wstring& path, const GUID& key) {
    return GetStorageProperty(shell::OpenStorageAtPath(path).get(), key);
}

long WatchState(const std::wstring& path) { return GetWatchStateOrThrow(ConnectServer().get(), tools::bstr(path)); }

void SetFlags(const std::wstring& path, ULONGLONG flags) { SetStorageFlags(shell::OpenStorageAtPath(path).get(), flags); }

// The shell's notifications about items, as a window of this thread receives them.
class shell_notifications {
public:
    static constexpr UINT message = WM_APP + 7;
    shell_notifications() {
        window_ = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
        SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop_);
        SHChangeNotifyEntry entry{desktop_, TRUE};
        id_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel, SHCNE_ALLEVENTS, message, 1,
                                     &entry);
    }
    ~shell_notifications() {
        SHChangeNotifyDeregister(id_);
        DestroyWindow(window_);
        ILFree(desktop_);
    }
    // The events about path seen so far, in order, once pending messages were taken.
    std::vector<LONG> about(const std::wstring& path) {
        MSG msg;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 500;)
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            else Sleep(10);
        std::vector<LONG> events;
        for (const auto& [event, item] : seen_)
            if (_wcsicmp(item.c_str(), path.c_str()) == 0) events.push_back(event);
        return events;
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
        if (msg == message) {
            auto* self = reinterpret_cast<shell_notifications*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            auto** items = reinterpret_cast<PIDLIST_ABSOLUTE*>(wparam);
            wchar_t path[MAX_PATH] = L"";
            if (items && items[0]) SHGetPathFromIDListW(items[0], path);
            self->seen_.emplace_back(static_cast<LONG>(lparam), path);
            return 0;
        }
        return DefWindowProcW(window, msg, wparam, lparam);
    }
    HWND window_ = nullptr;
    PIDLIST_ABSOLUTE desktop_ = nullptr;
    ULONG id_ = 0;
    std::vector<std::pair<LONG, std::wstring>> seen_;
};

}  // namespace

TEST_CASE_FIXTURE(storage_bench,
                  "freezing marks the storage, closes it for every client, drops its key and keeps its file free") {
    const std::wstring path = MakeStorage(dir, L"freeze", SeparateFileAndAttach, pfx);
    installed_key key(pfx);
    CStorageKeyMap& map = CStorageKeyMap::Instance();
    GUID id{};
    auto server = ConnectServer();
    auto held = OpenStorageOrThrow(server.get(), path);  // another client's element
    id = GetStorageId(held.get());
    UnlockStorage(nullptr, held.get(), id);
    REQUIRE(map.Contains(id));
    shell_notifications notifications;

    CHECK_FALSE(shell::SetStorageFreeze(path, true));
    CHECK(WatchState(path) == 0);
    CHECK_FALSE(IsStorageOpenOrThrow(server.get(), path));
    CHECK(testing::file_is_free(path));
    CHECK_FALSE(map.Contains(id));
    VARIANT_BOOL root = VARIANT_FALSE;
    CHECK(FAILED(held->IsRoot(&root)));  // cut off
    CHECK(notifications.about(path) == std::vector<LONG>{SHCNE_RMDIR, SHCNE_MKDIR});
    // Asking whether it is frozen does not open it.
    CHECK(shell::IsStorageFrozenAtPath(path));
    CHECK(testing::file_is_free(path));
    CHECK(shell::SetStorageFreeze(path, true));  // frozen already: nothing happens
    CHECK(WatchState(path) == 0);
    {
        tools::auto_variant frozen = Property(path, FrozenProperty);
        CHECK(frozen.get().vt == VT_BOOL);
        CHECK(frozen.get().boolVal == VARIANT_TRUE);
    }

    CHECK(shell::SetStorageFreeze(path, false));
    CHECK(WatchState(path) == 2);
    CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    CHECK(Property(path, FrozenProperty).get().boolVal == VARIANT_FALSE);
    CHECK_FALSE(shell::SetStorageFreeze(path, false));
    CHECK(notifications.about(path).size() == 4);
}

namespace {

// An unfreeze on another thread, run to its end where the query's window lies.
void UnfreezeMeanwhile(const std::wstring& path) { CHECK(shell::SetStorageFreeze(path, false)); }

}  // namespace

TEST_CASE_FIXTURE(storage_bench, "a storage whose mark is cleared is never left watched, so never left frozen") {
    const std::wstring path = MakeStorage(dir, L"race", SeparateFileAndAttach, pfx);
    auto server = ConnectServer();
    const tools::bstr file(path);

    SUBCASE("an unfreeze between the query's reading of the mark and its watch") {
        CHECK_FALSE(shell::SetStorageFreeze(path, true));
        // Frozen by its mark, not watched (as after a restart of the service).
        WatchFileOrThrow(server.get(), file, false);
        CHECK_FALSE(shell::IsStorageFrozenAtPath(path, UnfreezeMeanwhile));
        CHECK(WatchState(path) == 2);
        CHECK(testing::file_is_free(path));
    }
    SUBCASE("a watch left over on an unfrozen storage ends at the next unfreeze") {
        WatchFileOrThrow(server.get(), file, true);
        REQUIRE(shell::IsStorageFrozenAtPath(path));
        CHECK_FALSE(shell::SetStorageFreeze(path, false));
        CHECK(WatchState(path) == 2);
    }
    CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    CHECK(Property(path, FrozenProperty).get().boolVal == VARIANT_FALSE);
}

TEST_CASE_FIXTURE(storage_bench,
                  "attaching checks the key file against the storage and attaches exactly its bytes; detaching removes it") {
    tools::byte_buffer other_pfx;
    const std::wstring path = MakeStorage(dir, L"attach", SeparateFile, pfx);
    MakeStorage(dir, L"other", SeparateFile, other_pfx);
    // Key files whose certificate names the storage's key without holding it: its certificate alone, its
    // certificate with another key, a certificate of another key claiming the storage's key identifier.
    {
        shell::transient_keys own(tools::import_pfx(pfx, key_password)), other(tools::import_pfx(other_pfx, key_password));
        keytest::self_signed_key claiming(true, tools::cert_key_identifier(own.certs.front()));
        tools::write_file(dir.file(L"certificate-only.pfx"), KeyFileOf(own.certs.front().get(), nullptr));
        tools::write_file(dir.file(L"foreign-key.pfx"), KeyFileOf(own.certs.front().get(), other.certs.front().get()));
        tools::write_file(dir.file(L"claiming.pfx"), KeyFileOf(claiming.cert(), claiming.cert()));
    }
    const std::set<std::wstring> containers = testing::key_container_names();
    SetFlags(path, 6);  // bits that attaching and detaching must keep
    const std::wstring title = L"Select a storage key to attach";
    const std::wstring refused = L"The key you have selected does not belong to this storage  or the password is invalid.";

    {
        background_call attach([&] { return shell::AttachKey(nullptr, path); });
        // Another storage's key, with its right password.
        REQUIRE(AnswerFileDialog(title, dir.file(L"other.pfx")));
        REQUIRE(AnswerPassword(key_password));
        CHECK(Answer(refused, IDOK) ==
              refused + L"\nPlease, select an appropriate key or try another password.");
        for (const wchar_t* keyless : {L"certificate-only.pfx", L"foreign-key.pfx", L"claiming.pfx"}) {
            REQUIRE(AnswerFileDialog(title, dir.file(keyless)));
            REQUIRE(AnswerPassword(key_password));
            CHECK_FALSE(Answer(refused, IDOK).empty());
        }
        // The storage's own key: an empty password is refused by the prompt, a wrong one warned of.
        REQUIRE(AnswerFileDialog(title, dir.file(L"attach.pfx")));
        HWND prompt = WaitForWindow(L"Orrisafe", is_password_prompt);
        REQUIRE(prompt);
        Press(prompt, IDOK);
        CHECK(Answer(L"Empty result is not allowed.", IDOK) == L"Empty result is not allowed.");
        CHECK(IsWindowVisible(prompt));
        SetDlgItemTextW(prompt, IDC_INPUT_MASKED, L"Wrong#Pass1");
        Press(prompt, IDOK);
        CHECK_FALSE(Answer(refused, IDOK).empty());
        REQUIRE(AnswerFileDialog(title, dir.file(L"attach.pfx")));
        REQUIRE(AnswerPassword(key_password));
        REQUIRE(attach.finished());
        CHECK(attach.failure() == S_OK);
        CHECK(attach.result());
    }
    CHECK(GetStorageFlags(shell::OpenStorageAtPath(path).get()) == 7);
    tools::byte_buffer file;
    tools::read_file(dir.file(L"attach.pfx"), file);
    CHECK(GetAttachedKey(shell::OpenStorageAtPath(path).get()) == file);
    CHECK(testing::key_container_names() == containers);

    // Cancelling the file dialog ends the command.
    {
        background_call attach([&] { return shell::AttachKey(nullptr, path); });
        REQUIRE(AnswerFileDialog(title, L""));
        REQUIRE(attach.finished());
        CHECK(attach.failure() == S_OK);
        CHECK_FALSE(attach.result());
    }

    const std::wstring question = L"Do you really want to remove attached key?";
    for (int answer : {IDNO, IDYES}) {
        background_call detach([&] { return shell::DetachKey(nullptr, path); });
        CHECK(Answer(question, answer) ==
              question + L"\n\nNote: If you don't have a reserve copy of the key than you couldn't access a storage any "
                         L"more and all data inside the storage will be lost.");
        REQUIRE(detach.finished());
        CHECK(detach.result() == (answer == IDYES));
    }
    CHECK(GetStorageFlags(shell::OpenStorageAtPath(path).get()) == 6);
    CHECK(Property(path, AttachedKeyProperty).type() == VT_EMPTY);
    // Nothing attached: nothing to detach, export or install.
    {
        background_call detach([&] { return shell::DetachKey(nullptr, path); });
        Answer(question, IDYES);
        REQUIRE(detach.finished());
        CHECK_FALSE(detach.result());
    }
    CHECK_FALSE(shell::ExportKey(nullptr, path));
    CHECK_FALSE(shell::InstallAttachedKey(nullptr, path));
}

TEST_CASE_FIXTURE(storage_bench,
                  "the attached key is exported to a file, installed from a temporary file, and its installation undone") {
    const std::wstring path = MakeStorage(dir, L"keys", AttachOnly, pfx);
    const std::set<std::wstring> containers = testing::key_container_names();
    const std::wstring export_title = L"Storage key export";

    // An existing file is not replaced without a question; after a no the dialog stays for another choice.
    const std::wstring existing = dir.file(L"existing.pfx");
    const tools::byte_buffer kept{'k', 'e', 'p', 't'};
    tools::write_file(existing, kept);
    {
        background_call export_key([&] { return shell::ExportKey(nullptr, path); });
        HWND dialog = FillFileDialog(export_title, existing);
        REQUIRE(dialog);
        const std::wstring question = AnswerOwnedBox(dialog, IDNO, "export-replace-question");
        CAPTURE(tools::to_narrow(question));
        CHECK(question.find(L"already exists") != std::wstring::npos);
        CHECK(IsWindowVisible(dialog));
        Press(dialog, IDCANCEL);
        REQUIRE(export_key.finished());
        CHECK(export_key.failure() == S_OK);
        CHECK_FALSE(export_key.result());
    }
    tools::byte_buffer after;
    tools::read_file(existing, after);
    CHECK(after == kept);

    // A yes for a target that cannot be replaced: the failure arrives, and no word of success.
    const std::wstring locked = dir.file(L"locked.pfx");
    HANDLE holder = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(holder != INVALID_HANDLE_VALUE);
    {
        background_call export_key([&] { return shell::ExportKey(nullptr, path); });
        HWND dialog = FillFileDialog(export_title, locked);
        REQUIRE(dialog);
        CHECK_FALSE(AnswerOwnedBox(dialog, IDYES).empty());
        REQUIRE(export_key.finished());
        CHECK(export_key.failure() == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
        CHECK_FALSE(WaitForBox(L"The key was successfuly exported.", 500));
    }
    CloseHandle(holder);

    const std::wstring exported = dir.file(L"exported.pfx");
    {
        background_call export_key([&] { return shell::ExportKey(nullptr, path); });
        REQUIRE(AnswerFileDialog(export_title, exported));
        CHECK(Answer(L"The key was successfuly exported.", IDNO) ==
              L"The key was successfuly exported.\n\nDo you want to install it right now?");
        REQUIRE(export_key.finished());
        CHECK(export_key.result());
    }
    tools::byte_buffer written;
    tools::read_file(exported, written);
    CHECK(written == pfx);
    // For the host's openssl: the exported file and its password.
    std::wstring out = testing::env(L"ORRI_EXPORTED_KEYS");
    if (!out.empty()) {
        std::wstring folder = testing::windows_path_of(out);
        CreateDirectoryW(folder.c_str(), nullptr);
        tools::write_file(folder + L"\\exported.pfx", written);
        std::string pass = tools::to_narrow(key_password);
        tools::write_file(folder + L"\\exported.pass", tools::byte_buffer(pass.begin(), pass.end()));
    }

    // Installing: the key passes through a temporary file that would go at the next restart and goes at once.
    wchar_t local[MAX_PATH];
    REQUIRE(SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, TRUE));
    std::wstring temporary;
    std::wstring pending;
    {
        background_call install([&] { return shell::InstallAttachedKey(nullptr, path); });
        HWND prompt = WaitForWindow(L"Orrisafe", [](HWND w) { return GetDlgItem(w, 100) != nullptr; });
        REQUIRE(prompt);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((std::wstring(local) + L"\\{*}.pfx").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            temporary = std::wstring(local) + L"\\" + found.cFileName;
            FindClose(search);
        }
        wchar_t renames[8192] = L"";
        DWORD size = sizeof(renames) - sizeof(wchar_t);
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, renames, &size);
        for (const wchar_t* entry = renames; *entry; entry += wcslen(entry) + 1) pending += entry + std::wstring(L"|");
        SetDlgItemTextW(prompt, 100, key_password);
        Press(prompt, IDOK);
        CHECK(Answer(L"The import was successful.", IDOK) == L"The import was successful.");
        REQUIRE(install.finished());
        CHECK(install.result());
    }
    REQUIRE_FALSE(temporary.empty());
    CHECK(pending.find(temporary) != std::wstring::npos);
    CHECK(GetFileAttributesW(temporary.c_str()) == INVALID_FILE_ATTRIBUTES);
    CHECK(shell::FindInstalledKeyAtPath(path));
    CHECK(testing::key_container_names().size() == containers.size() + 1);

    // Viewing shows the system's certificate dialog.
    {
        background_call view([&] {
            shell::ViewKey(nullptr, path);
            return true;
        });
        HWND viewer = WaitForWindow(L"Certificate");
        REQUIRE(viewer);
        Press(viewer, IDOK);
        REQUIRE(view.finished());
        CHECK(view.result());
    }

    // Deleting the installed key takes its container along and leaves the storage frozen.
    const std::wstring question = L"Do you really want to delete installed storage key for current user account";
    {
        background_call remove([&] { return shell::DeleteInstalledKey(nullptr, path); });
        CHECK(Answer(question, IDNO) == question + L"?\n\nYou have a key attached to the storage so you can install it "
                                                   L"at any moment you need.");
        REQUIRE(remove.finished());
        CHECK_FALSE(remove.result());
    }
    CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    {
        background_call remove([&] { return shell::DeleteInstalledKey(nullptr, path); });
        Answer(question, IDYES);
        REQUIRE(remove.finished());
        CHECK(remove.failure() == S_OK);
        CHECK(remove.result());
    }
    CHECK_FALSE(shell::FindInstalledKeyAtPath(path));
    CHECK(testing::key_container_names() == containers);
    CHECK(shell::IsStorageFrozenAtPath(path));
    // No key installed: nothing to view or delete, and nothing asked.
    shell::ViewKey(nullptr, path);
    CHECK_FALSE(shell::DeleteInstalledKey(nullptr, path));
}

TEST_CASE_FIXTURE(storage_bench, "deleting the only copy of a key warns that it cannot be undone") {
    const std::wstring path = MakeStorage(dir, L"only", SeparateFile, pfx);
    installed_key key(pfx);
    background_call remove([&] { return shell::DeleteInstalledKey(nullptr, path); });
    CHECK(Answer(L"WARNING:", IDNO) ==
          L"WARNING: You have no storage key attached. If you have no any reserve copy of the key you want to delete than "
          L"you'll not be able to access this storage any more.\n\nDo you really want to delete installed storage key "
          L"for current user account (it couldn't be undone) ?");
    REQUIRE(remove.finished());
    CHECK(remove.failure() == S_OK);
    CHECK_FALSE(remove.result());
}

namespace {

// Wait dialogs of this process: a caption and the text beside the animation.
HWND WaitForWaitDialog(const std::wstring& caption) {
    return WaitForWindow(caption, [](HWND w) { return GetDlgItem(w, IDC_WAIT_ANIMATION) != nullptr; });
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

ULONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    REQUIRE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Files of the storage and their digests, as the server computes them.
std::map<std::wstring, std::string> Digests(const std::wstring& path) {
    std::map<std::wstring, std::string> digests;
    auto root = shell::OpenStorageAtPath(path);
    auto elements = EnumElementsOrThrow(root.get());
    while (auto info = NextOrThrow(elements.get())) {
        std::wstring name(GetNameOrThrow(info.get()));
        StreamDigest digest = GetDigestOrThrow(OpenFileOrThrow(root.get(), name, VARIANT_FALSE).get());
        digests[name] = std::string(reinterpret_cast<const char*>(&digest), sizeof(digest));
    }
    return digests;
}

// A storage much of whose file its contents no longer use: files written, then most of them deleted.
void Fragment(const std::wstring& path) {
    auto root = shell::OpenStorageAtPath(path);
    std::vector<unsigned char> data(48 * 1024);
    for (int i = 0; i < 24; ++i) {
        for (size_t b = 0; b < data.size(); ++b) data[b] = static_cast<unsigned char>(b * 7 + i);
        auto stream = GetStreamOrThrow(OpenFileOrThrow(root.get(), L"file" + std::to_wstring(i), VARIANT_TRUE).get());
        ULONG written = 0;
        REQUIRE(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written) == S_OK);
    }
    for (int i = 0; i < 24; ++i)
        if (i % 4) DeleteElementOrThrow(root.get(), L"file" + std::to_wstring(i));
}

// The analysis of the storage as the user sees it: the wait dialog, then the figure; answered with button.
std::wstring Analyse(const std::wstring& path, int button, bool screenshots = false) {
    HWND wait = WaitForWaitDialog(L"Analysis in progress");
    if (!wait) return L"no wait dialog";
    CHECK(ItemText(wait, IDC_WAIT_TEXT) == L"Please wait several minutes until analysis process will finish...");
    if (screenshots) CHECK(testing::screenshot(L"shell-shots", "analysis-wait"));
    HWND box = WaitForBox(L"Storage is fragmented on ");
    if (!box) return L"no figure";
    if (screenshots) CHECK(testing::screenshot(L"shell-shots", "analysis-question"));
    std::wstring text = BoxText(box);
    Press(box, button);
    WaitUntilGone(box);
    return text;
}

HANDLE FailingStart(unsigned(__stdcall*)(void*), void*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HANDLE BeginThread(unsigned(__stdcall* body)(void*), void* argument) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, argument, 0, nullptr));
}

// Freezes and unfreezes as the command does, except that from the second unfreeze on (the defragmentation's) another
// program holds the file, so that the server cannot open it.
int unfreezes = 0;
bool UnfreezeHeldSecondTime(const std::wstring& path, bool freeze) {
    if (freeze || ++unfreezes < 2) return shell::SetStorageFreeze(path, freeze);
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    struct closer {
        HANDLE file;
        ~closer() { CloseHandle(file); }
    } close{held};
    return shell::SetStorageFreeze(path, false);
}

}  // namespace

TEST_CASE("the estimate reads the compound file's directory: streams in whole blocks, property sets as they are") {
    testing::scratch_dir dir;
    const std::wstring path = dir.file(L"measured.orrisafe");
    {
        auto root = testing::create_docfile(path);
        auto stream = [](IStorage* parent, const wchar_t* name, ULONG size) {
            tools::interface_holder<IStream> made;
            REQUIRE(parent->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, made.put()) ==
                    S_OK);
            std::vector<BYTE> bytes(size, 0x5A);
            ULONG written = 0;
            if (size) REQUIRE(made->Write(bytes.data(), size, &written) == S_OK);
        };
        stream(root.get(), L"two blocks", 8192);
        stream(root.get(), L"one byte", 1);
        stream(root.get(), L"empty", 0);
        stream(root.get(), L"\x0005Summary", 300);
        tools::interface_holder<IStorage> folder;
        REQUIRE(root->CreateStorage(L"folder", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, folder.put()) ==
                S_OK);
        stream(folder.get(), L"inner", 4095);
    }
    // A stream one block more than its whole blocks, none when empty; a property set its size; 104 bytes of directory
    // for each of the six elements.
    CHECK(shell::OpenCompoundFile(path) == (8192 + 4096) + 4096 + 0 + 300 + 4096 + 6 * 104);

    // The share: nothing for a file no larger than the overhead; 25 % and 26 % on either side of the offer.
    CHECK(shell::ComparableFileSize(20480) == 0);
    CHECK(shell::ComparableFileSize(20481) == 1);
    CHECK(shell::FragmentationPercent(0, 500) == 0);
    CHECK(shell::FragmentationPercent(99, 75) == shell::defragmentation_threshold);
    CHECK(shell::FragmentationPercent(99, 74) == shell::defragmentation_threshold + 1);
    CHECK(shell::FragmentationPercent(99, 1000) == 1);  // used counts no more than the size
}

TEST_CASE_FIXTURE(storage_bench,
                  "analysis estimates the waste; defragmentation keeps every file and the frozen state") {
    const std::wstring no_need = L"It does not need deframentation.";

    SUBCASE("files no larger than the fixed overhead need nothing") {
        const std::wstring path = MakeStorage(dir, L"small", AttachOnly, pfx);
        DefragmentOrThrow(ConnectServer().get(), tools::bstr(path));  // smaller than the overhead
        REQUIRE(FileSize(path) < 20480);
        for (int round = 0; round < 2; ++round) {
            background_call analysis([&] {
                shell::DefragmentStorage(nullptr, path);
                return true;
            });
            CHECK(Analyse(path, IDOK, round == 0) == L"Storage is fragmented on 0%.\n" + no_need);
            REQUIRE(analysis.finished());
            CHECK(analysis.failure() == S_OK);
            // Exactly the overhead.
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            REQUIRE(file != INVALID_HANDLE_VALUE);
            LARGE_INTEGER end{};
            end.QuadPart = 20480;
            CHECK(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
            CHECK(SetEndOfFile(file));
            CloseHandle(file);
        }
        // It was open before: it is open again.
        CHECK(WatchState(path) == 2);
        CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    }

    SUBCASE("a fragmented storage is offered defragmentation; declined, nothing more happens") {
        const std::wstring path = MakeStorage(dir, L"declined", AttachOnly, pfx);
        Fragment(path);
        const ULONGLONG size = FileSize(path);
        background_call analysis([&] {
            shell::DefragmentStorage(nullptr, path);
            return true;
        });
        std::wstring figure = Analyse(path, IDNO);
        CHECK(figure.rfind(L"Storage is fragmented on ", 0) == 0);
        CHECK(figure.find(L"%.\nTo start defragmentation press OK.\n\nNote: The storage will be temporary frozen.") !=
              std::wstring::npos);
        REQUIRE(analysis.finished());
        CHECK(FileSize(path) == size);
        CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    }

    SUBCASE("defragmented, a storage keeps every file with its digest, and its frozen state") {
      for (bool frozen_before : {false, true}) {
        CAPTURE(frozen_before);
        const std::wstring path = MakeStorage(dir, frozen_before ? L"frozen" : L"open", AttachOnly, pfx);
        Fragment(path);
        const auto digests = Digests(path);
        const ULONGLONG size = FileSize(path);
        if (frozen_before) shell::SetStorageFreeze(path, true);
        background_call defragmentation([&] {
            shell::DefragmentStorage(nullptr, path);
            return true;
        });
        const std::wstring figure = Analyse(path, IDYES, !frozen_before);
        const int percent = _wtoi(figure.c_str() + wcslen(L"Storage is fragmented on "));
        CHECK(percent > 25);
        HWND wait = WaitForWaitDialog(L"Defragmentation is in progress...");
        REQUIRE(wait);
        CHECK(ItemText(wait, IDC_WAIT_TEXT) == L"Please wait several minutes until defragmentation will finish...");
        if (!frozen_before) CHECK(testing::screenshot(L"shell-shots", "defragmentation-wait"));
        CHECK(Answer(L"Defragmentation", IDOK) == L"Defragmentation has finished successfully");
        REQUIRE(defragmentation.finished());
        CHECK(defragmentation.failure() == S_OK);
        CHECK(FileSize(path) < size);
        CHECK(shell::IsStorageFrozenAtPath(path) == frozen_before);
        if (frozen_before) shell::SetStorageFreeze(path, false);
        CHECK(Digests(path) == digests);
      }
    }

    SUBCASE("a storage frozen from elsewhere while the offer stands stays frozen") {
        const std::wstring path = MakeStorage(dir, L"meanwhile", AttachOnly, pfx);
        Fragment(path);
        background_call defragmentation([&] {
            shell::DefragmentStorage(nullptr, path);
            return true;
        });
        REQUIRE(WaitForWaitDialog(L"Analysis in progress"));
        HWND offer = WaitForBox(L"Storage is fragmented on ");
        REQUIRE(offer);
        CHECK_FALSE(shell::SetStorageFreeze(path, true));
        Press(offer, IDYES);
        CHECK(Answer(L"Defragmentation", IDOK) == L"Defragmentation has finished successfully");
        REQUIRE(defragmentation.finished());
        CHECK(shell::IsStorageFrozenAtPath(path));
        CHECK(shell::SetStorageFreeze(path, false));
    }

    SUBCASE("a storage that the defragmentation cannot unfreeze again is reported, and no success claimed") {
        const std::wstring path = MakeStorage(dir, L"unfreezable", AttachOnly, pfx);
        Fragment(path);
        unfreezes = 0;
        background_call defragmentation([&] {
            shell::DefragmentStorage(nullptr, path, BeginThread, UnfreezeHeldSecondTime);
            return true;
        });
        CHECK(Analyse(path, IDYES).rfind(L"Storage is fragmented on ", 0) == 0);
        const std::wstring heading = L"Unable to unfreeze the storage.";
        CHECK(Answer(heading, IDOK).rfind(heading + L"\n\n", 0) == 0);
        // No box stands any more: the command has ended.
        REQUIRE(defragmentation.finished());
        CHECK(unfreezes == 2);
        CHECK(shell::IsStorageFrozenAtPath(path));
        CHECK(shell::SetStorageFreeze(path, false));
    }

    SUBCASE("a phase whose thread cannot start ends its dialog with the error") {
        const std::wstring path = MakeStorage(dir, L"nothread", AttachOnly, pfx);
        background_call analysis([&] {
            shell::DefragmentStorage(nullptr, path, FailingStart);
            return true;
        });
        CHECK(Answer(L"Unable to analyse the storage", IDOK) ==
              L"Unable to analyse the storage\n\n" + tools::format_win_error(ERROR_NOT_ENOUGH_MEMORY));
        REQUIRE(analysis.finished());
        CHECK(analysis.failure() == S_OK);
        CHECK_FALSE(shell::IsStorageFrozenAtPath(path));
    }
}
