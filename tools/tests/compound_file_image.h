// A compound file's bytes, read and changed by hand: the tests' own small reader of the format, for
// damaging a file at a precise place.
#pragma once
#include <doctest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <tools/file_io.h>

namespace testing {

class compound_file_image {
public:
    // Directory entry fields.
    static constexpr size_t name_length = 0x40, type = 0x42, left = 0x44, right = 0x48, child = 0x4C, start = 0x74, size = 0x78;
    // Header fields.
    static constexpr size_t fat_count = 0x2C, first_directory = 0x30, first_mini_fat = 0x3C, difat_count = 0x48;

    explicit compound_file_image(const std::wstring& path) { tools::read_file(path, bytes); }
    void save(const std::wstring& path) const { tools::write_file(path, bytes); }

    uint32_t u32(size_t at) const {
        REQUIRE(at + 4 <= bytes.size());
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
    }
    void set_u32(size_t at, uint32_t value) {
        REQUIRE(at + 4 <= bytes.size());
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
    void set_u64(size_t at, uint64_t value) {
        set_u32(at, static_cast<uint32_t>(value));
        set_u32(at + 4, static_cast<uint32_t>(value >> 32));
    }

    uint32_t sector_size() const { return 1u << (bytes.at(0x1E) | bytes.at(0x1F) << 8); }
    size_t sector_at(uint32_t sector) const { return (size_t(sector) + 1) * sector_size(); }
    // The place of a sector's FAT entry (FAT sectors named in the header, then in the DIFAT sectors).
    size_t fat_at(uint32_t sector) const {
        uint32_t per_sector = sector_size() / 4, index = sector / per_sector;
        if (index < 109) return sector_at(u32(0x4C + 4 * index)) + 4 * (sector % per_sector);
        uint32_t difat = u32(0x44);
        for (index -= 109; index >= per_sector - 1; index -= per_sector - 1) difat = u32(sector_at(difat) + 4 * (per_sector - 1));
        return sector_at(u32(sector_at(difat) + 4 * index)) + 4 * (sector % per_sector);
    }
    std::vector<uint32_t> chain(uint32_t sector) const {
        std::vector<uint32_t> sectors;
        for (; sector < 0xFFFFFFFA; sector = u32(fat_at(sector))) {
            sectors.push_back(sector);
            REQUIRE(sectors.size() < bytes.size() / sector_size());
        }
        return sectors;
    }

    size_t entry_at(uint32_t index) const {
        uint32_t per_sector = sector_size() / 128;
        auto directory = chain(u32(first_directory));
        REQUIRE(index / per_sector < directory.size());
        return sector_at(directory[index / per_sector]) + 128 * (index % per_sector);
    }
    uint32_t entry_count() const { return static_cast<uint32_t>(chain(u32(first_directory)).size() * (sector_size() / 128)); }
    // The entry with that name; the test needs it to be there.
    uint32_t find(const std::wstring& name) const {
        for (uint32_t i = 0; i < entry_count(); ++i) {
            size_t at = entry_at(i);
            std::wstring found;
            for (size_t c = 0; c < 32 && (bytes[at + 2 * c] | bytes[at + 2 * c + 1]); ++c)
                found += static_cast<wchar_t>(bytes[at + 2 * c] | bytes[at + 2 * c + 1] << 8);
            if (bytes[at + type] != 0 && found == name) return i;
        }
        FAIL("no directory entry named as asked");
        return 0;
    }
    uint32_t field(uint32_t entry, size_t offset) const { return u32(entry_at(entry) + offset); }
    // One UTF-16 unit of an entry's name field.
    void set_name_char(uint32_t entry, unsigned index, uint16_t c) {
        bytes.at(entry_at(entry) + 2 * index) = static_cast<unsigned char>(c);
        bytes.at(entry_at(entry) + 2 * index + 1) = static_cast<unsigned char>(c >> 8);
    }
    // Two entries exchange their names (and name lengths), keeping their places in the tree.
    void swap_names(uint32_t a, uint32_t b) {
        size_t at_a = entry_at(a), at_b = entry_at(b);
        for (size_t i = 0; i < name_length + 2; ++i) std::swap(bytes.at(at_a + i), bytes.at(at_b + i));
    }
    void set_field(uint32_t entry, size_t offset, uint32_t value) { set_u32(entry_at(entry) + offset, value); }

    std::vector<unsigned char> bytes;
};

}  // namespace testing
