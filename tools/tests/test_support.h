// Helpers shared by the test executables: scratch folders and Wine-side paths.
#pragma once
#include <windows.h>
#include <tools/com_error.h>
#include <tools/com_initializer.h>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace testing {

// A fresh empty folder under the prefix's temp folder, removed with everything in it on destruction.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Runs a command line in a new process, waits at most timeout_ms, returns its exit code (or -1).
DWORD run_process(const std::wstring& command_line, std::string* output = nullptr, DWORD timeout_ms = 60000);

// Runs each body on a thread of its own, all at once, and waits at most timeout_ms for all of them; false
// when one had not ended by then (it is left running, and keeps what it uses).
bool all_end_within(DWORD timeout_ms, std::vector<std::function<void()>> bodies);
inline bool ends_within(DWORD timeout_ms, std::function<void()> body) { return all_end_within(timeout_ms, {std::move(body)}); }

// The bytes that hexadecimal digits in pairs spell (blanks and line breaks between pairs are skipped).
std::vector<unsigned char> from_hex(const std::wstring& hex);

// The HRESULT of the COM error the body raises; S_OK when it raises none.
template <class Body>
HRESULT raised(Body&& body) {
    try {
        body();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

// The text of a list view's cell (column 0 is the item itself).
std::wstring list_view_text(HWND list, int row, int column);

// An environment variable of the test run, empty when not set.
std::wstring env(const wchar_t* name);

// A Windows path for a Unix path of the host (through drive Z:).
std::wstring windows_path_of(const std::wstring& unix_path);

// A picture of the whole screen as <build>/<folder>/<name>.png, taken by the host's screen grabber; false when none
// came within 30 s.
bool screenshot(const std::wstring& folder, const std::string& name);

// A single-threaded COM apartment on the calling thread for the scope; throws when COM refuses.
class com_apartment {
public:
    com_apartment() { com_.check(); }

private:
    tools::com_initializer com_;
};

// The user's key containers, but for the default one (named after the user): Wine's PKCS#12 import writes every
// key there, and the product's import leaves it holding a throw-away key, so whether it exists depends only on
// whether anything was imported before in this prefix.
std::set<std::wstring> key_container_names();

}  // namespace testing
