// One watched storage file: its directory kept open for the watch's whole life and the thread that
// waits on it until a file of the watched name changes.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace server {

class CFileWatch {
public:
    static constexpr DWORD default_buffer_size = 65536;

    // Called once, on the watch's own thread, when the watched file changed or the directory can no
    // longer be read; not called after stop().
    using end_handler = std::function<void(CFileWatch&)>;

    // Opens the directory of path and returns only once the first read of its changes is pending, so
    // no change made after the constructor returns is missed. Throws tools::win_except.
    CFileWatch(const std::wstring& path, end_handler on_end, DWORD buffer_size = default_buffer_size);
    // Stops the thread and waits for it.
    ~CFileWatch();
    CFileWatch(const CFileWatch&) = delete;
    CFileWatch& operator=(const CFileWatch&) = delete;

    const std::wstring& path() const noexcept { return path_; }
    // Asks the thread to end without calling the end handler.
    void stop() noexcept;
    // Whether the thread has ended (for any reason).
    bool finished() const noexcept;

    // The folder a path's file lies in, as CreateFileW can open it ("C:\" for a file in a drive root).
    static std::wstring directory_of(const std::wstring& path);
    static std::wstring file_name_of(const std::wstring& path);

private:
    enum class outcome { changed, stopped };

    static unsigned __stdcall WatchFileThread(void* self) noexcept;
    outcome WaitForFileChange() noexcept;
    DWORD ReadDirectoryChanges() noexcept;
    bool batch_names_file(DWORD bytes) const noexcept;
    void close_handles() noexcept;

    std::wstring path_;
    std::wstring file_;
    end_handler on_end_;
    std::vector<DWORD> buffer_;  // DWORD-aligned, as the notifications require
    HANDLE directory_ = INVALID_HANDLE_VALUE;
    HANDLE read_done_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE armed_ = nullptr;
    HANDLE thread_ = nullptr;
    OVERLAPPED overlapped_{};
    DWORD arm_error_ = 0;
};

}  // namespace server
