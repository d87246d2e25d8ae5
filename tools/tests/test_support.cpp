#include "test_support.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <stdexcept>
#include <cwctype>
#include <tools/text.h>
#include <tools/win_except.h>

namespace testing {

scratch_dir::scratch_dir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"orri-" + tools::guid_to_string(tools::new_guid()).substr(1, 8);
    if (!CreateDirectoryW(path_.c_str(), nullptr)) tools::throw_last_error();
}

scratch_dir::~scratch_dir() {
    std::wstring from = path_ + L'\0';
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationW(&op);
}

std::vector<unsigned char> from_hex(const std::wstring& hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size();) {
        if (iswspace(hex[i])) {
            ++i;
            continue;
        }
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

DWORD run_process(const std::wstring& command_line, std::string* output, DWORD timeout_ms) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (output && !CreatePipe(&read_end, &write_end, &sa, 0)) return static_cast<DWORD>(-1);
    if (read_end) SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write_end;
        si.hStdError = write_end;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION pi{};
    std::wstring cmd = command_line;
    BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &si, &pi);
    if (write_end) CloseHandle(write_end);
    if (!ok) {
        if (read_end) CloseHandle(read_end);
        return static_cast<DWORD>(-1);
    }
    DWORD start = GetTickCount();
    auto time_left = [&] {
        DWORD spent = GetTickCount() - start;
        return spent < timeout_ms ? timeout_ms - spent : 0;
    };
    if (output) {
        // Only what is there is read, so that a child that never closes its output cannot hold us past the time.
        char buf[4096];
        for (;;) {
            bool ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
            DWORD available = 0, n = 0;
            if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) break;  // every writer is gone
            if (available) {
                if (!ReadFile(read_end, buf, available < sizeof(buf) ? available : sizeof(buf), &n, nullptr) || !n) break;
                output->append(buf, n);
                continue;
            }
            if (ended || time_left() == 0) break;
            Sleep(10);
        }
        CloseHandle(read_end);
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, time_left()) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

namespace {

DWORD WINAPI run_body(void* body) {
    try {
        (*static_cast<std::function<void()>*>(body))();
        return 0;
    } catch (...) {
        return 1;  // the body records its own results; nothing may leave a thread
    }
}

}  // namespace

bool all_end_within(DWORD timeout_ms, std::vector<std::function<void()>> bodies) {
    // Threads that end in time are waited for; any other keeps running, and keeps its body.
    std::vector<HANDLE> threads;
    std::vector<std::function<void()>*> kept;
    for (auto& body : bodies) {
        kept.push_back(new std::function<void()>(std::move(body)));
        HANDLE thread = CreateThread(nullptr, 0, run_body, kept.back(), 0, nullptr);
        if (!thread) {
            delete kept.back();
            kept.pop_back();
            break;
        }
        threads.push_back(thread);
    }
    bool ended = threads.size() == bodies.size();
    DWORD start = GetTickCount();
    for (size_t i = 0; i < threads.size(); ++i) {
        DWORD spent = GetTickCount() - start;
        bool this_one = WaitForSingleObject(threads[i], spent < timeout_ms ? timeout_ms - spent : 0) == WAIT_OBJECT_0;
        CloseHandle(threads[i]);
        if (this_one) delete kept[i];
        ended = ended && this_one;
    }
    return ended;
}

std::wstring env(const wchar_t* name) {
    wchar_t buf[4096];
    DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return (n && n < 4096) ? std::wstring(buf, n) : std::wstring();
}

std::wstring windows_path_of(const std::wstring& unix_path) {
    std::wstring path = L"Z:" + unix_path;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring list_view_text(HWND list, int row, int column) {
    wchar_t text[256] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

bool screenshot(const std::wstring& folder, const std::string& name) {
    std::wstring dir = env(L"ORRI_BUILD_DIR") + L"/" + folder;
    std::wstring file = dir + L"/" + tools::to_wide(name) + L".png";
    DeleteFileW(windows_path_of(file).c_str());
    // The host's screen grabber is a Unix program: Wine starts it without waiting, so the picture is awaited.
    std::wstring command = L"/bin/sh -c \"mkdir -p '" + dir + L"' && import -window root '" + file + L".tmp.png' && mv '" +
                           file + L".tmp.png' '" + file + L"'\"";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(50))
        if (GetFileAttributesW(windows_path_of(file).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    return false;
}

std::set<std::wstring> key_container_names() {
    std::set<std::wstring> names;
    wchar_t user[256];
    DWORD user_length = 256;
    std::wstring default_container = GetUserNameW(user, &user_length) ? user : L"";
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return names;
    char name[1024];
    for (DWORD flags = CRYPT_FIRST;; flags = 0) {
        DWORD size = sizeof(name);
        if (!CryptGetProvParam(provider, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) break;
        if (tools::to_wide(name) != default_container) names.insert(tools::to_wide(name));
    }
    CryptReleaseContext(provider, 0);
    return names;
}

}  // namespace testing
