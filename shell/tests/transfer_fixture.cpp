#include "transfer_fixture.h"

#include <doctest.h>
#include <shlobj.h>
#include <cstring>

#include <server/client/storage_properties.h>
#include <server/idl/storage_identities.h>
#include <shell/progress_window_resources.h>
#include <shell/storage_key_map.h>
#include <tools/md5.h>
#include <tools/text.h>

#include "window_driver.h"

namespace shell_testing {

storage_under_test::storage_under_test() : served_storage(L"target") {
    folder.reset(new CStorageShellFolder());
    REQUIRE(folder->Initialize(List().get()) == S_OK);
    CreateDirectoryW(dir.file(L"src").c_str(), nullptr);
}

storage_under_test::~storage_under_test() {
    folder.reset();
    CStorageKeyMap::Instance().Remove(id);
}

std::wstring storage_under_test::source(const std::wstring& relative) const { return dir.file(L"src\\" + relative); }

void storage_under_test::write_source(const std::wstring& relative, const std::vector<BYTE>& bytes) const {
    const std::wstring full = source(relative);
    SHCreateDirectoryExW(nullptr, full.substr(0, full.rfind(L'\\')).c_str(), nullptr);
    HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    REQUIRE(written == bytes.size());
}

void storage_under_test::write_stored(const std::wstring& relative, const std::vector<BYTE>& bytes) {
    const size_t cut = relative.rfind(L'\\');
    auto parent = cut == std::wstring::npos ? root : FindFolder(relative.substr(0, cut));
    auto file = OpenFileOrThrow(parent.get(), relative.substr(cut + 1), VARIANT_TRUE);
    ULONG written = 0;
    if (!bytes.empty())
        GetStreamOrThrow(file.get())->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
}

std::vector<BYTE> storage_under_test::stored(const std::wstring& relative) const {
    auto stream = GetStreamOrThrow(OpenFileOrThrow(root.get(), relative, VARIANT_FALSE).get());
    std::vector<BYTE> bytes;
    BYTE block[4096];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(block, sizeof block, &read)) && read) bytes.insert(bytes.end(), block, block + read);
    return bytes;
}

std::wstring storage_under_test::digest_text(const std::wstring& relative) const {
    tools::auto_variant value = GetStorageProperty(FindElementOrThrow(root.get(), relative).get(), ContentDigestProperty);
    return value.get().vt == VT_BSTR ? std::wstring(value.get().bstrVal) : std::wstring();
}

std::vector<BYTE> pattern(size_t size, BYTE seed) {
    std::vector<BYTE> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(seed + i * 7 + i / 251);
    return bytes;
}

std::vector<BYTE> file_bytes(const std::wstring& path) {
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    BYTE block[4096];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof block, &read, nullptr) && read) bytes.insert(bytes.end(), block, block + read);
    CloseHandle(file);
    return bytes;
}

std::wstring expected_digest(const std::vector<BYTE>& bytes) {
    tools::md5_hasher hasher;
    tools::md5_digest sum{};
    for (size_t at = 0; at < bytes.size(); at += 4096) {
        const tools::md5_digest block = hasher.digest(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at));
        for (size_t i = 0; i < sum.size(); ++i) sum[i] ^= block[i];
    }
    GUID text{};
    std::memcpy(&text, sum.data(), sizeof text);
    return tools::guid_to_string(text);
}

window_script::window_script(std::wstring caption, std::function<void(HWND)> action, std::function<bool(HWND)> test,
                             DWORD timeout_ms)
    : thread_([this, caption = std::move(caption), action = std::move(action), test = std::move(test), timeout_ms] {
          HWND window = WaitForWindow(caption, test, timeout_ms);
          came_ = window != nullptr;
          if (window) action(window);
      }) {}

window_script::~window_script() { done(); }

bool window_script::done() {
    if (thread_.joinable()) thread_.join();
    return came_;
}

std::function<void(HWND)> when_copying(const std::wstring& file_name, std::function<void(HWND)> then) {
    return [file_name, then = std::move(then)](HWND dialog) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(5)) {
            wchar_t line[512] = L"";
            GetDlgItemTextW(dialog, IDC_PROGRESS_MODERN_LINE1, line, 512);
            if (std::wstring(line).find(L"'" + file_name + L"'") != std::wstring::npos) break;
        }
        then(dialog);
    };
}

std::function<void(HWND)> cancel_when_copying(const std::wstring& file_name) {
    return when_copying(file_name, [](HWND dialog) { Press(dialog, IDCANCEL); });
}

std::function<void(HWND)> answer(int button, bool tick) {
    return [button, tick](HWND box) {
        if (tick) SendDlgItemMessageW(box, 100, BM_SETCHECK, BST_CHECKED, 0);
        Press(box, button);
        WaitUntilGone(box, 10000);
    };
}

}  // namespace shell_testing
