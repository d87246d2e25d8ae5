// What the transfer and data-object tests share: a storage the wizard made, its key installed, opened through the
// folder object and through a server connection of the test's own; files on disk; and a thread that waits for a
// window of this process and acts on it.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <server/client/server_calls.h>
#include <shell/storage_shell_folder.h>
#include <tools/tests/test_support.h>

#include "storage_fixture.h"

namespace shell_testing {

// The storage of served_storage shown through the folder object, with files of chosen bytes on both sides.
struct storage_under_test : served_storage {
    tools::interface_holder<CStorageShellFolder> folder;

    storage_under_test();
    ~storage_under_test();
    // A path below the scratch folder's "src" folder.
    std::wstring source(const std::wstring& relative) const;
    // A file on disk with these bytes (its folders made).
    void write_source(const std::wstring& relative, const std::vector<BYTE>& bytes) const;
    // A file in the storage with these bytes (its folders made; no digest).
    void write_stored(const std::wstring& relative, const std::vector<BYTE>& bytes);
    // A stored file's bytes; the COM error when there is none.
    std::vector<BYTE> stored(const std::wstring& relative) const;
    // The recorded digest as it is kept (braced GUID text); empty when none.
    std::wstring digest_text(const std::wstring& relative) const;
};

std::vector<BYTE> pattern(size_t size, BYTE seed = 1);
std::vector<BYTE> file_bytes(const std::wstring& path);
// The digest the server records for these bytes: MD5 over each 4096-byte block, XORed, as braced GUID text.
std::wstring expected_digest(const std::vector<BYTE>& bytes);

// Waits on a thread of its own for a visible window of this process with the caption that passes the test, then
// runs the action on it; joined (and its outcome readable) by done().
class window_script {
public:
    window_script(std::wstring caption, std::function<void(HWND)> action,
                  std::function<bool(HWND)> test = {}, DWORD timeout_ms = 30000);
    ~window_script();
    // Joins the thread; whether the window came.
    bool done();

private:
    std::thread thread_;
    bool came_ = false;
};

// Runs the action on the progress window once its first status line names the file (or after 30 s).
std::function<void(HWND)> when_copying(const std::wstring& file_name, std::function<void(HWND)> then);
// Presses Cancel on the progress window once its first status line names the file.
std::function<void(HWND)> cancel_when_copying(const std::wstring& file_name);
// Answers a question box with the button; ticks its "don't show again" box first when asked to.
std::function<void(HWND)> answer(int button, bool tick = false);

}  // namespace shell_testing
