#include "file_watch.h"

#include <process.h>
#include <algorithm>
#include <cstddef>
#include <shlwapi.h>

#include <tools/win_except.h>

namespace server {

namespace {

// Every kind of change the system reports for a directory's entries.
constexpr DWORD change_filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_LAST_ACCESS |
                                FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY;

bool same_name(const wchar_t* a, int a_length, const std::wstring& b) {
    return CompareStringOrdinal(a, a_length, b.c_str(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

HANDLE new_event() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) tools::throw_last_error();
    return event;
}

}  // namespace

std::wstring CFileWatch::directory_of(const std::wstring& path) {
    const wchar_t* name = PathFindFileNameW(path.c_str());
    std::wstring directory = path.substr(0, static_cast<size_t>(name - path.c_str()));
    // A bare file name lies in the current folder.
    if (directory.empty()) return L".";
    // The separator of a root ("C:\", "\") belongs to the folder's name; any other is dropped.
    if (directory.size() > 1 && is_separator(directory.back())) {
        bool drive_root = directory.size() == 3 && directory[1] == L':';
        if (!drive_root) directory.pop_back();
    }
    return directory;
}

std::wstring CFileWatch::file_name_of(const std::wstring& path) { return PathFindFileNameW(path.c_str()); }

CFileWatch::CFileWatch(const std::wstring& path, end_handler on_end, DWORD buffer_size)
    : path_(path), file_(file_name_of(path)), on_end_(std::move(on_end)), buffer_((buffer_size + 3) / 4) {
    if (file_.empty() || is_separator(path.back())) throw tools::win_except(ERROR_INVALID_NAME);
    try {
        std::wstring directory = directory_of(path);
        directory_ = CreateFileW(directory.c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        if (directory_ == INVALID_HANDLE_VALUE) tools::throw_last_error();
        read_done_ = new_event();
        stop_ = new_event();
        armed_ = new_event();
        thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchFileThread, this, 0, nullptr));
        if (!thread_) {
            DWORD error = GetLastError();
            throw tools::win_except(error ? error : ERROR_NOT_ENOUGH_MEMORY);
        }
        // The thread issues the first read itself; until it is pending, changes would go unseen.
        HANDLE waits[2] = {armed_, thread_};
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (WaitForSingleObject(armed_, 0) != WAIT_OBJECT_0) {
            WaitForSingleObject(thread_, INFINITE);
            throw tools::win_except(arm_error_ ? arm_error_ : ERROR_GEN_FAILURE);
        }
    } catch (...) {
        close_handles();
        throw;
    }
}

CFileWatch::~CFileWatch() {
    stop();
    if (thread_) WaitForSingleObject(thread_, INFINITE);
    close_handles();
}

void CFileWatch::stop() noexcept {
    if (stop_) SetEvent(stop_);
}

bool CFileWatch::finished() const noexcept { return !thread_ || WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }

void CFileWatch::close_handles() noexcept {
    for (HANDLE* h : {&read_done_, &stop_, &armed_, &thread_}) {
        if (*h) CloseHandle(*h);
        *h = nullptr;
    }
    if (directory_ != INVALID_HANDLE_VALUE) CloseHandle(directory_);
    directory_ = INVALID_HANDLE_VALUE;
}

DWORD CFileWatch::ReadDirectoryChanges() noexcept {
    ResetEvent(read_done_);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = read_done_;
    DWORD size = static_cast<DWORD>(buffer_.size() * sizeof(DWORD));
    if (!ReadDirectoryChangesW(directory_, buffer_.data(), size, FALSE, change_filter, nullptr, &overlapped_, nullptr))
        return GetLastError();
    return 0;
}

bool CFileWatch::batch_names_file(DWORD bytes) const noexcept {
    const auto* base = reinterpret_cast<const unsigned char*>(buffer_.data());
    size_t size = std::min<size_t>(bytes, buffer_.size() * sizeof(DWORD));
    size_t offset = 0;
    for (;;) {
        if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) > size) return false;
        const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
        size_t name_end = offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + entry->FileNameLength;
        if (name_end > size) return false;
        // Any action on the name counts: created, deleted, modified, or renamed away or onto it.
        if (same_name(entry->FileName, static_cast<int>(entry->FileNameLength / sizeof(wchar_t)), file_))
            return true;
        if (entry->NextEntryOffset == 0) return false;
        offset += entry->NextEntryOffset;
    }
}

CFileWatch::outcome CFileWatch::WaitForFileChange() noexcept {
    HANDLE waits[2] = {stop_, read_done_};
    for (;;) {
        DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0 + 1) {
            // Stopped (or the wait itself failed): the pending read must end before its buffer goes.
            DWORD ignored = 0;
            CancelIo(directory_);
            GetOverlappedResult(directory_, &overlapped_, &ignored, TRUE);
            return woke == WAIT_OBJECT_0 ? outcome::stopped : outcome::changed;
        }
        DWORD bytes = 0;
        // A failed read (the folder went away, or the system dropped the list: ERROR_NOTIFY_ENUM_DIR)
        // and an empty one (the changes overflowed the buffer) both may hide a change of the file.
        if (!GetOverlappedResult(directory_, &overlapped_, &bytes, FALSE) || bytes == 0) return outcome::changed;
        if (batch_names_file(bytes)) return outcome::changed;
        if (ReadDirectoryChanges() != 0) return outcome::changed;
    }
}

unsigned __stdcall CFileWatch::WatchFileThread(void* parameter) noexcept {
    auto* self = static_cast<CFileWatch*>(parameter);
    self->arm_error_ = self->ReadDirectoryChanges();
    if (self->arm_error_ != 0) return 1;
    SetEvent(self->armed_);
    if (self->WaitForFileChange() == outcome::changed && self->on_end_) {
        try {
            self->on_end_(*self);
        } catch (...) {
            // The handler's failure cannot be reported anywhere from this thread.
        }
    }
    return 0;
}

}  // namespace server
