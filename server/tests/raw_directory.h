// Reads a compound file's directory entries straight from its bytes, as another reader of the file would.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing {

struct raw_entry {
    std::wstring name;       // up to the first NUL of the 64-byte name field
    unsigned length_field;   // the entry's name length in bytes, terminator included
    unsigned type;           // 1 storage, 2 stream, 5 root
};

inline std::vector<raw_entry> raw_directory(const std::vector<unsigned char>& file) {
    auto u16 = [&](size_t at) -> uint32_t { return at + 2 <= file.size() ? file[at] | (file[at + 1] << 8) : 0; };
    auto u32 = [&](size_t at) -> uint32_t { return at + 4 <= file.size() ? u16(at) | (u16(at + 2) << 16) : 0xFFFFFFFF; };
    std::vector<raw_entry> entries;
    if (file.size() < 512) return entries;
    size_t sector = size_t(1) << u16(0x1E);
    auto sector_at = [&](uint32_t n) { return (size_t(n) + 1) * sector; };
    std::vector<uint32_t> fat;
    for (unsigned i = 0; i < 109 && i < u32(0x2C); ++i) {
        size_t at = sector_at(u32(0x4C + 4 * i));
        for (size_t k = 0; k < sector / 4; ++k) fat.push_back(u32(at + 4 * k));
    }
    uint32_t dir = u32(0x30);
    for (int guard = 0; dir < fat.size() && guard < 10000; ++guard, dir = fat[dir]) {
        size_t at = sector_at(dir);
        for (size_t e = 0; e + 128 <= sector && at + e + 128 <= file.size(); e += 128) {
            raw_entry entry;
            entry.type = file[at + e + 66];
            if (!entry.type) continue;
            entry.length_field = u16(at + e + 64);
            for (size_t c = 0; c < 32; ++c) {
                wchar_t ch = static_cast<wchar_t>(u16(at + e + 2 * c));
                if (!ch) break;
                entry.name += ch;
            }
            entries.push_back(entry);
        }
    }
    return entries;
}

}  // namespace testing
