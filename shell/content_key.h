// A storage's unlocked content key, and the per-file key derived from it. Both wipe their bytes when they
// are freed or replaced, so no copy of a key outlives its use in freed memory.
#pragma once
#include <windows.h>
#include <array>
#include <utility>

#include <tools/text.h>

class ContentKey {
public:
    ContentKey() = default;
    // Takes over the bytes.
    explicit ContentKey(tools::byte_buffer&& bytes) noexcept : bytes_(std::move(bytes)) {}
    ContentKey(const ContentKey& other) : bytes_(other.bytes_) {}
    ContentKey(ContentKey&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    ContentKey& operator=(const ContentKey& other) {
        if (this != &other) {
            wipe();
            bytes_ = other.bytes_;
        }
        return *this;
    }
    ContentKey& operator=(ContentKey&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }
    ~ContentKey() { wipe(); }

    const tools::byte_buffer& bytes() const noexcept { return bytes_; }

private:
    void wipe() noexcept {
        if (!bytes_.empty()) SecureZeroMemory(bytes_.data(), bytes_.size());
    }

    tools::byte_buffer bytes_;
};

// The 16-byte key of one file element (GuidTransform).
struct FileKey {
    std::array<unsigned char, 16> bytes{};
    FileKey() = default;
    FileKey(const FileKey&) = default;
    FileKey& operator=(const FileKey&) = default;
    ~FileKey() { SecureZeroMemory(bytes.data(), bytes.size()); }
};
