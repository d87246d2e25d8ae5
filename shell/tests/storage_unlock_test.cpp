// The unlock step end to end: storages made by the wizard's Finish, opened through the installed service, unlocked
// with the key installed in "MY", with the attached key through the driven password prompt, or not at all.
#include <doctest.h>
#include <windows.h>
#include <objbase.h>

#include <string>

#include <server/client/connect_server.h>
#include <server/client/server_calls.h>
#include <server/client/storage_properties.h>
#include <server/tests/service_fixture.h>
#include <shell/input_prompt_resources.h>
#include <shell/storage_key_map.h>
#include <shell/storage_unlock.h>
#include <tools/certificates.h>
#include <tools/file_io.h>
#include <tools/hresult.h>
#include <tools/pfx_import.h>
#include <tools/tests/test_support.h>
#include <wizard/storage_creation.h>

#include "storage_fixture.h"
#include "window_driver.h"

using namespace shell_testing;

namespace {

// One folder's opening: connect, open the storage, unlock it, on a thread of its own.
struct unlock_run {
    std::wstring path;
    GUID id{};
    std::string locked;  // ContentKeyProperty as stored
    HRESULT result = E_PENDING;
    HANDLE thread = nullptr;

    explicit unlock_run(std::wstring storage) : path(std::move(storage)) {
        thread = CreateThread(nullptr, 0, proc, this, 0, nullptr);
        REQUIRE(thread);
    }
    ~unlock_run() {
        if (!finished(60000)) TerminateThread(thread, 1);
        CloseHandle(thread);
    }
    bool finished(DWORD timeout_ms) { return WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0; }

    static DWORD WINAPI proc(void* context) {
        auto* run = static_cast<unlock_run*>(context);
        CoInitialize(nullptr);
        run->result = tools::com_boundary([&] {
            auto server = ConnectServer();
            auto root = OpenStorageOrThrow(server.get(), run->path);
            run->id = GetStorageId(root.get());
            run->locked = tools::base64_encode(GetContentKey(root.get()));
            UnlockStorage(nullptr, root.get(), run->id);
        });
        CoUninitialize();
        return 0;
    }
};

bool is_prompt(HWND window) { return IsWindowVisible(GetDlgItem(window, IDC_INPUT_MASKED)) != FALSE; }

HWND WaitForBox(const std::wstring& text_start) {
    return WaitForWindow(L"Orrisafe", [&](HWND w) { return BoxText(w).rfind(text_start, 0) == 0; });
}

std::string hex(const tools::byte_buffer& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

}  // namespace

TEST_CASE("a storage unlocks with its installed key, with its attached key and password, or not at all") {
    service_testing::installed_server installed;
    REQUIRE(installed.ready());
    testing::scratch_dir dir;
    tools::byte_buffer pfx, plain_pfx;
    std::wstring attached = MakeStorage(dir, L"attached", SeparateFileAndAttach, pfx);
    std::wstring plain = MakeStorage(dir, L"plain", SeparateFile, plain_pfx);
    std::set<std::wstring> containers = testing::key_container_names();
    CStorageKeyMap& map = CStorageKeyMap::Instance();

    // No key installed and none attached: refused at once, without a question.
    {
        unlock_run run(plain);
        REQUIRE(run.finished(20000));
        CHECK(run.result == E_ACCESSDENIED);
        CHECK_FALSE(map.Contains(run.id));
    }

    // The attached key: an empty entry is refused, a wrong password asked again, the right one unlocks.
    tools::byte_buffer unlocked;
    GUID id{};
    {
        unlock_run run(attached);
        HWND prompt = WaitForWindow(L"Orrisafe", is_prompt);
        REQUIRE(prompt);
        wchar_t text[128] = L"";
        GetDlgItemTextW(prompt, IDC_INPUT_PROMPT, text, 128);
        CHECK(std::wstring(text) == L"Please, input key password:");
        CHECK(testing::screenshot(L"shell-shots", "password-prompt"));
        Press(prompt, IDOK);
        HWND empty = WaitForBox(L"Empty result is not allowed.");
        REQUIRE(empty);
        Press(empty, IDOK);
        CHECK(WaitUntilGone(empty));
        CHECK(IsWindowVisible(prompt));

        SetDlgItemTextW(prompt, IDC_INPUT_MASKED, L"Wrong#Pass1");
        Press(prompt, IDOK);
        HWND wrong = WaitForBox(L"The password is invalid.");
        REQUIRE(wrong);
        CHECK(testing::screenshot(L"shell-shots", "wrong-password"));
        Press(wrong, IDOK);
        HWND again = WaitForWindow(L"Orrisafe", is_prompt);
        REQUIRE(again);
        SetDlgItemTextW(again, IDC_INPUT_MASKED, key_password);
        Press(again, IDOK);
        REQUIRE(run.finished(30000));
        CHECK(run.result == S_OK);
        id = run.id;
        CHECK(map.Count(id) == 1);
        unlocked = map.Find(id).bytes();
        CHECK(unlocked.size() == 16);
        CHECK(testing::key_container_names() == containers);  // the imported key's container is gone again

        // For the host's openssl: the key file, its password, the locked and the unlocked content key.
        std::wstring out = testing::env(L"ORRI_UNLOCK_KEYS");
        if (!out.empty()) {
            std::wstring folder = testing::windows_path_of(out);
            CreateDirectoryW(folder.c_str(), nullptr);
            std::string pass = tools::to_narrow(key_password), clear = hex(unlocked);
            tools::write_file(folder + L"\\unlock.pfx", pfx);
            tools::write_file(folder + L"\\unlock.pass", tools::byte_buffer(pass.begin(), pass.end()));
            tools::write_file(folder + L"\\unlock.content", tools::byte_buffer(run.locked.begin(), run.locked.end()));
            tools::write_file(folder + L"\\unlock.key", tools::byte_buffer(clear.begin(), clear.end()));
        }
    }
    // A second folder of the same storage counts up without asking.
    {
        unlock_run run(attached);
        REQUIRE(run.finished(20000));
        CHECK(run.result == S_OK);
        CHECK(map.Count(id) == 2);
    }
    map.Remove(id);

    // Cancelling the prompt leaves the storage locked.
    {
        unlock_run run(attached);
        HWND prompt = WaitForWindow(L"Orrisafe", is_prompt);
        REQUIRE(prompt);
        Press(prompt, IDCANCEL);
        REQUIRE(run.finished(20000));
        CHECK(run.result == E_ACCESSDENIED);
        CHECK_FALSE(map.Contains(id));
    }

    // The installed key unlocks without a question, to the same content key.
    {
        installed_key key(pfx);
        unlock_run run(attached);
        REQUIRE(run.finished(20000));
        CHECK(run.result == S_OK);
        CHECK(map.Find(id).bytes() == unlocked);
        map.Remove(id);
    }
    CHECK(testing::key_container_names() == containers);
}
