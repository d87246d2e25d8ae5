// Stands in for the structure checks that Wine's compound-file reader lacks: it loops or exhausts memory on damaged files.
#include "compound_file_check.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "running_under_wine.h"

namespace platform {
namespace {

std::atomic<sibling_order_reader> judged_reader_{sibling_order_reader::running};

constexpr uint32_t free_sector = 0xFFFFFFFF, end_of_chain = 0xFFFFFFFE, fat_marker = 0xFFFFFFFD,
                   difat_marker = 0xFFFFFFFC, no_entry = 0xFFFFFFFF;
constexpr unsigned header_size = 512, header_difat_entries = 109, entry_size = 128, mini_sector_size = 64;
// Streams below this size live in the mini stream; the platform uses this constant, not the header's field.
constexpr uint64_t mini_stream_cutoff = 4096;
// A record that names a half-destroyed element is a few names; anything longer is none.
constexpr uint64_t longest_record = 64 * 1024;
constexpr unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

enum entry_type : unsigned char { unused_entry = 0, storage_entry = 1, stream_entry = 2, root_entry = 5 };

// Ends the check with its verdict.
struct verdict {
    HRESULT result;
};
[[noreturn]] void damaged() { throw verdict{STG_E_DOCFILECORRUPT}; }
void require(bool condition) {
    if (!condition) damaged();
}

uint32_t u32(const unsigned char* at) { return at[0] | at[1] << 8 | at[2] << 16 | uint32_t(at[3]) << 24; }
uint16_t u16(const unsigned char* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
uint64_t u64(const unsigned char* at) { return u32(at) | uint64_t(u32(at + 4)) << 32; }

class file_reader {
public:
    explicit file_reader(const wchar_t* path)
        : file_(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr)) {
        if (file_ == INVALID_HANDLE_VALUE) throw verdict{open_error(GetLastError())};
        LARGE_INTEGER size{};
        // A pipe or a device is no compound file, and reading one could wait for ever.
        HRESULT refused = GetFileType(file_) != FILE_TYPE_DISK ? STG_E_FILEALREADYEXISTS
                          : !GetFileSizeEx(file_, &size)       ? STG_E_READFAULT
                                                               : S_OK;
        if (FAILED(refused)) {
            CloseHandle(file_);
            throw verdict{refused};
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
    }
    ~file_reader() { CloseHandle(file_); }
    file_reader(const file_reader&) = delete;
    file_reader& operator=(const file_reader&) = delete;

    uint64_t size() const { return size_; }

    // Exactly count bytes at offset; a sector that the file does not hold whole is damage.
    void read(uint64_t offset, void* buffer, DWORD count) const {
        require(offset <= size_ && count <= size_ - offset);
        // Moving the file pointer first: a read at an offset given with it costs Wine a server call.
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD read = 0;
        if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !ReadFile(file_, buffer, count, &read, nullptr) ||
            read != count)
            throw verdict{STG_E_READFAULT};
    }

private:
    // As the platform's own open reports a file it cannot open.
    static HRESULT open_error(DWORD error) {
        switch (error) {
        case ERROR_FILE_NOT_FOUND: return STG_E_FILENOTFOUND;
        case ERROR_PATH_NOT_FOUND: return STG_E_PATHNOTFOUND;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return STG_E_ACCESSDENIED;
        case ERROR_SHARING_VIOLATION: return STG_E_SHAREVIOLATION;
        default: return E_FAIL;
        }
    }

    HANDLE file_;
    uint64_t size_ = 0;
};

// Which sectors (or mini sectors) some structure already owns: a second owner is damage, and so is a chain
// that comes back to one of its own sectors.
class ownership {
public:
    explicit ownership(uint64_t count) : owned_(static_cast<size_t>(count)) {}
    void claim(uint32_t sector) {
        require(sector < owned_.size() && !owned_[sector]);
        owned_[sector] = true;
    }

private:
    std::vector<bool> owned_;
};

class structure_check {
public:
    explicit structure_check(const wchar_t* path, const half_destroyed_element* element = nullptr)
        : file_(path), element_(element) {}

    void run() {
        read_header();
        read_fat();
        read_directory();
        if (element_) find_half_destroyed();
        walk_tree();
    }

    // A stream that ended early: where its directory entry lies in the file and, when the sectors it kept still
    // make a chain of sectors of its own (4096 bytes or more), where the FAT entry of the last of them lies and
    // the size they hold.
    struct cut_stream {
        uint64_t entry, last_link, kept;
    };
    const std::vector<cut_stream>& cut_streams() const { return cut_; }

private:
    uint64_t sector_offset(uint32_t sector) const { return (uint64_t(sector) + 1) * sector_size_; }

    void read_sector(uint32_t sector, std::vector<unsigned char>& buffer) const {
        buffer.resize(sector_size_);
        file_.read(sector_offset(sector), buffer.data(), sector_size_);
    }

    void read_header() {
        if (file_.size() < header_size) throw verdict{STG_E_FILEALREADYEXISTS};
        file_.read(0, header_, header_size);
        if (std::memcmp(header_, signature, sizeof signature) != 0) throw verdict{STG_E_FILEALREADYEXISTS};
        uint16_t major = u16(header_ + 0x1A), shift = u16(header_ + 0x1E);
        require(u16(header_ + 0x1C) == 0xFFFE && (major == 3 || major == 4) && (shift == 9 || shift == 12) &&
                u16(header_ + 0x20) == 6);
        sector_size_ = 1u << shift;
        // Sector n lies at (n + 1) * size; the header occupies the place of sector -1.
        uint64_t sectors = file_.size() > sector_size_ ? (file_.size() - 1) / sector_size_ : 0;
        sectors_ = sectors < end_of_chain - 1 ? sectors : end_of_chain - 1;
    }

    // The FAT sectors come from the header's DIFAT entries and the DIFAT chain, whose length is what they
    // need; unused places are free, so the platform never takes them for FAT sectors it does not count.
    void read_fat() {
        const uint32_t per_fat = sector_size_ / 4, per_difat = per_fat - 1;
        uint32_t fat_count = u32(header_ + 0x2C), difat_count = u32(header_ + 0x48);
        require(fat_count <= sectors_);
        uint64_t beyond_header = fat_count > header_difat_entries ? fat_count - header_difat_entries : 0;
        require(difat_count == (beyond_header + per_difat - 1) / per_difat);
        std::vector<uint32_t> fat_sectors, difat_sectors;
        for (unsigned i = 0; i < header_difat_entries; ++i) {
            uint32_t sector = u32(header_ + 0x4C + 4 * i);
            if (i < fat_count)
                fat_sectors.push_back(sector);
            else
                require(sector == free_sector);
        }
        std::vector<unsigned char> buffer;
        for (uint32_t n = 0, difat = u32(header_ + 0x44); n < difat_count; ++n) {
            require(difat < sectors_);
            difat_sectors.push_back(difat);
            read_sector(difat, buffer);
            for (uint32_t i = 0; i < per_difat; ++i) {
                uint32_t sector = u32(&buffer[4 * i]);
                if (fat_sectors.size() < fat_count)
                    fat_sectors.push_back(sector);
                else
                    require(sector == free_sector);
            }
            difat = u32(&buffer[4 * per_difat]);
        }

        // Only sectors that both exist and have a FAT entry can be in a chain.
        uint64_t covered = uint64_t(fat_count) * per_fat;
        chain_limit_ = static_cast<uint32_t>(covered < sectors_ ? covered : sectors_);
        sectors_owned_ = std::make_unique<ownership>(chain_limit_);
        for (uint32_t sector : fat_sectors) sectors_owned_->claim(sector);
        for (uint32_t sector : difat_sectors) sectors_owned_->claim(sector);
        fat_.resize(chain_limit_);
        for (uint32_t k = 0; uint64_t(k) * per_fat < chain_limit_; ++k) {
            read_sector(fat_sectors[k], buffer);
            for (uint32_t i = 0; i < per_fat && uint64_t(k) * per_fat + i < chain_limit_; ++i)
                fat_[k * per_fat + i] = u32(&buffer[4 * i]);
        }
        // The tables are marked as such, or the platform would hand them out as free sectors.
        for (uint32_t sector : fat_sectors) require(fat_[sector] == fat_marker);
        fat_sectors_ = std::move(fat_sectors);
        for (uint32_t sector : difat_sectors) require(fat_[sector] == difat_marker);
    }

    // The sectors of a chain in the FAT, each claimed; no chain can then loop or cross another. A chain that may
    // end early ends before a free sector.
    std::vector<uint32_t> big_chain(uint32_t start, bool may_end_early = false) {
        std::vector<uint32_t> chain;
        for (uint32_t sector = start; sector != end_of_chain; sector = fat_[sector]) {
            if (may_end_early && sector < chain_limit_ && fat_[sector] == free_sector) break;
            sectors_owned_->claim(sector);
            chain.push_back(sector);
        }
        return chain;
    }

    void require_length(uint64_t units, uint64_t unit_size, uint64_t size) {
        // A chain shorter than its stream's size would run the platform's reader off its end.
        require(size <= units * unit_size);
    }

    void read_directory() {
        directory_ = big_chain(u32(header_ + 0x30));
        require(!directory_.empty());
        entries_ = uint64_t(directory_.size()) * (sector_size_ / entry_size);
        mini_fat_ = big_chain(u32(header_ + 0x3C));
        entry_at(0);
        // The platform takes the first root entry with a name for the root; it must be entry 0.
        require(entry_[0x42] == root_entry && u16(entry_ + 0x40) != 0);
        uint64_t mini_stream_size = u64(entry_ + 0x78);
        uint32_t mini_stream_start = u32(entry_ + 0x74);
        root_child_ = u32(entry_ + 0x4C);
        // The mini stream is the root's chain in the FAT, whatever its size.
        mini_stream_ = big_chain(mini_stream_start);
        require_length(mini_stream_.size(), sector_size_, mini_stream_size);
        uint64_t mini_sectors = (mini_stream_size + mini_sector_size - 1) / mini_sector_size;
        uint64_t mini_entries = uint64_t(mini_fat_.size()) * (sector_size_ / 4);
        mini_limit_ = mini_sectors < mini_entries ? mini_sectors : mini_entries;
        mini_owned_ = std::make_unique<ownership>(mini_limit_);
    }

    // Reads entry n into entry_ (one sector kept).
    void entry_at(uint64_t n) {
        require(n < entries_);
        const uint64_t per_sector = sector_size_ / entry_size;
        uint32_t sector = directory_[static_cast<size_t>(n / per_sector)];
        if (sector != directory_cached_) {
            read_sector(sector, directory_buffer_);
            directory_cached_ = sector;
        }
        entry_ = &directory_buffer_[static_cast<size_t>(n % per_sector) * entry_size];
    }

    uint32_t mini_fat_entry(uint32_t mini_sector) {
        const uint32_t per_sector = sector_size_ / 4;
        uint32_t sector = mini_fat_[mini_sector / per_sector];
        if (sector != mini_fat_cached_) {
            read_sector(sector, mini_fat_buffer_);
            mini_fat_cached_ = sector;
        }
        return u32(&mini_fat_buffer_[4 * (mini_sector % per_sector)]);
    }

    void check_stream(uint32_t start, uint64_t size, uint32_t entry) {
        // Only a stream of the half-destroyed element may end early, where the platform stopped freeing it.
        bool may_end_early = entry < may_end_early_.size() && may_end_early_[entry];
        uint64_t length = 0, unit = sector_size_;
        std::vector<uint32_t> chain;
        // Whether the chain runs into a freed sector: then it is cut, whatever its size says (a repair whose size
        // reached the disk before its end mark leaves the size right and the chain still running on).
        bool runs_into_free = false;
        if (size >= mini_stream_cutoff) {
            chain = big_chain(start, may_end_early);
            length = chain.size();
            runs_into_free = (chain.empty() ? start : fat_[chain.back()]) != end_of_chain;
        } else {
            unit = mini_sector_size;
            for (uint32_t sector = start; sector != end_of_chain; sector = mini_fat_entry(sector)) {
                require(sector < mini_limit_);
                if (may_end_early && mini_fat_entry(sector) == free_sector) {
                    runs_into_free = true;
                    break;
                }
                mini_owned_->claim(sector);
                ++length;
            }
        }
        if (!may_end_early || (!runs_into_free && length * unit >= size)) {
            require_length(length, unit, size);
            return;
        }
        const uint32_t per_sector = sector_size_ / entry_size, per_fat = sector_size_ / 4;
        cut_stream cut{sector_offset(directory_[entry / per_sector]) + entry % per_sector * entry_size, 0, 0};
        if (!chain.empty() && length * unit >= mini_stream_cutoff) {
            cut.last_link = sector_offset(fat_sectors_[chain.back() / per_fat]) + 4 * (chain.back() % per_fat);
            cut.kept = length * unit;
        }
        cut_.push_back(cut);
    }

    // The half-destroyed element that the record names, if any: its entry and every entry below it may hold
    // streams that end early. Only looked up here; the walk checks these entries as it checks all others.
    void find_half_destroyed() {
        uint32_t record = find_child(0, element_->record);
        if (record == no_entry) return;
        entry_at(record);
        uint64_t size = u64(entry_ + 0x78);
        std::vector<unsigned char> bytes;
        if (entry_[0x42] != stream_entry || size > longest_record || !read_stream(u32(entry_ + 0x74), size, bytes)) return;
        uint32_t element = 0;
        for (const std::wstring& name : element_->read(bytes)) {
            entry_at(element);
            if (entry_[0x42] != storage_entry && entry_[0x42] != root_entry) return;
            if ((element = find_child(element, name)) == no_entry) return;
        }
        if (element == 0) return;
        may_end_early_.assign(static_cast<size_t>(entries_), false);
        may_end_early_[element] = true;
        entry_at(element);
        std::vector<uint32_t> pending{u32(entry_ + 0x4C)};
        if (entry_[0x42] != storage_entry) pending.clear();
        while (!pending.empty()) {
            uint32_t next = pending.back();
            pending.pop_back();
            if (next >= entries_ || may_end_early_[next]) continue;
            may_end_early_[next] = true;
            entry_at(next);
            pending.push_back(u32(entry_ + 0x44));
            pending.push_back(u32(entry_ + 0x48));
            if (entry_[0x42] == storage_entry) pending.push_back(u32(entry_ + 0x4C));
        }
    }

    // The child of a storage entry by name, searched as the platform searches: no_entry when it is not found.
    uint32_t find_child(uint32_t storage, const std::wstring& text) {
        entry_name wanted;
        if (text.empty() || text.size() >= 32) return no_entry;
        for (wchar_t c : text) wanted.chars[wanted.length++] = static_cast<uint16_t>(c);
        entry_at(storage);
        uint32_t at = u32(entry_ + 0x4C);
        for (uint64_t steps = 0; at < entries_ && steps < entries_; ++steps) {
            entry_at(at);
            if (entry_[0x42] != storage_entry && entry_[0x42] != stream_entry) return no_entry;
            entry_name name = read_name();
            if (names_in_order(wanted, name))
                at = u32(entry_ + 0x44);
            else if (names_in_order(name, wanted))
                at = u32(entry_ + 0x48);
            else
                return at;
        }
        return no_entry;
    }

    // A stream's bytes, read before the walk: false unless its chain holds them all.
    bool read_stream(uint32_t sector, uint64_t size, std::vector<unsigned char>& bytes) {
        bool mini = size < mini_stream_cutoff;
        const uint32_t unit = mini ? mini_sector_size : sector_size_;
        bytes.resize(static_cast<size_t>(size));
        std::vector<unsigned char> buffer;
        for (uint64_t at = 0; at < size; at += unit) {
            if (sector >= (mini ? mini_limit_ : chain_limit_)) return false;
            uint64_t place = mini ? uint64_t(sector) * mini_sector_size : 0;
            read_sector(mini ? mini_stream_[static_cast<size_t>(place / sector_size_)] : sector, buffer);
            uint64_t part = size - at < unit ? size - at : unit;
            std::memcpy(&bytes[static_cast<size_t>(at)], &buffer[static_cast<size_t>(place % sector_size_)], static_cast<size_t>(part));
            sector = mini ? mini_fat_entry(sector) : fat_[sector];
        }
        return true;
    }

    // An entry's name as the platform's reader takes it: the characters before the first NUL.
    struct entry_name {
        unsigned length = 0;
        uint16_t chars[32] = {};
    };

    // The name of entry_. Its first NUL must lie in the name field and not before the end that the length field
    // gives (the platform would search for a shorter name than the one stored), and it must be valid UTF-16.
    entry_name read_name() const {
        uint16_t length_field = u16(entry_ + 0x40);
        require(length_field >= 2 && length_field <= 64 && length_field % 2 == 0);
        entry_name name;
        while (name.length < 32 && (name.chars[name.length] = u16(entry_ + 2 * name.length)) != 0) ++name.length;
        require(name.length < 32 && name.length + 1 >= length_field / 2u);
        for (unsigned i = 0; i < name.length; ++i) {
            uint16_t c = name.chars[i];
            if (c >= 0xD800 && c <= 0xDBFF) {
                // A high surrogate and the low one after it are one character.
                require(i + 1 < name.length && name.chars[i + 1] >= 0xDC00 && name.chars[i + 1] <= 0xDFFF);
                ++i;
            } else {
                require(c < 0xDC00 || c > 0xDFFF);
            }
        }
        return name;
    }

    // Every entry below the root, reached once through sibling and child links. The siblings below a storage
    // form a search tree by name in the platform's order (names_in_order); a name outside the range that its
    // place in the tree allows would be missed by every search and listing, so it is damage too.
    void walk_tree() {
        std::vector<bool> reached(static_cast<size_t>(entries_));
        constexpr uint32_t unbounded = 0xFFFFFFFF;
        struct place {
            uint32_t entry;
            unsigned depth;
            uint32_t above, below;  // indices in names of the names this one must follow and precede
        };
        std::vector<place> pending;
        std::vector<entry_name> names;
        reached[0] = true;
        if (root_child_ != no_entry) pending.push_back({root_child_, 1, unbounded, unbounded});
        while (!pending.empty()) {
            place next = pending.back();
            pending.pop_back();
            require(next.entry < entries_ && !reached[next.entry]);
            reached[next.entry] = true;
            entry_at(next.entry);
            unsigned char type = entry_[0x42];
            require(type == storage_entry || type == stream_entry);
            names.push_back(read_name());
            const entry_name& name = names.back();
            require(next.above == unbounded || names_in_order(names[next.above], name));
            require(next.below == unbounded || names_in_order(name, names[next.below]));
            uint32_t here = static_cast<uint32_t>(names.size() - 1);
            uint32_t left = u32(entry_ + 0x44), right = u32(entry_ + 0x48), child = u32(entry_ + 0x4C);
            uint32_t start = u32(entry_ + 0x74);
            uint64_t size = u64(entry_ + 0x78);
            if (left != no_entry) pending.push_back({left, next.depth, next.above, here});
            if (right != no_entry) pending.push_back({right, next.depth, here, next.below});
            if (type == storage_entry && child != no_entry) {
                require(next.depth < max_compound_file_depth);
                pending.push_back({child, next.depth + 1, unbounded, unbounded});
            }
            if (type == stream_entry) check_stream(start, size, next.entry);
        }
    }

    // The platform's order of sibling names, in which it inserts and searches them: the shorter name first,
    // names of one length by their upper-cased characters. Equal names are not in order: a search finds one.
    static bool names_in_order(const entry_name& first, const entry_name& second) {
        if (first.length != second.length) return first.length < second.length;
        const bool wine = judged_reader() == sibling_order_reader::wine;
        for (unsigned i = 0; i < first.length; ++i) {
            uint16_t a = first.chars[i], b = second.chars[i];
            if (a == b) continue;
            // Wine's reader upper-cases with the C run time's towupper in the "C" locale, which maps a-z only.
            // Windows' reader upper-cases by a table of its own that differs from plain Unicode upper-casing
            // for a number of characters: where a character outside ASCII decides, the check cannot tell its
            // order and takes it as in order, so that no storage Windows wrote is refused for it.
            if (!wine && (a >= 0x80 || b >= 0x80)) return true;
            a = upper_ascii(a), b = upper_ascii(b);
            if (a != b) return a < b;
        }
        return false;
    }

    static uint16_t upper_ascii(uint16_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint16_t>(c - 'a' + 'A') : c; }

    static sibling_order_reader judged_reader() {
        sibling_order_reader reader = judged_reader_.load();
        if (reader != sibling_order_reader::running) return reader;
        return running_under_wine() ? sibling_order_reader::wine : sibling_order_reader::windows;
    }

    file_reader file_;
    const half_destroyed_element* element_;
    std::vector<bool> may_end_early_;
    std::vector<cut_stream> cut_;
    std::vector<uint32_t> mini_stream_, fat_sectors_;
    unsigned char header_[header_size] = {};
    uint32_t sector_size_ = 512;
    uint32_t sectors_ = 0;
    uint32_t chain_limit_ = 0;
    std::vector<uint32_t> fat_;
    std::unique_ptr<ownership> sectors_owned_;
    std::vector<uint32_t> directory_, mini_fat_;
    uint64_t entries_ = 0;
    uint32_t root_child_ = no_entry;
    uint64_t mini_limit_ = 0;
    std::unique_ptr<ownership> mini_owned_;
    std::vector<unsigned char> directory_buffer_, mini_fat_buffer_;
    uint32_t directory_cached_ = free_sector, mini_fat_cached_ = free_sector;
    const unsigned char* entry_ = nullptr;
};

}  // namespace

void judge_sibling_order_for(sibling_order_reader reader) { judged_reader_ = reader; }

HRESULT check_compound_file(const wchar_t* path) {
    if (!path) return STG_E_INVALIDNAME;
    try {
        structure_check(path).run();
        return S_OK;
    } catch (const verdict& refused) {
        return refused.result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT empty_half_destroyed_streams(const wchar_t* path, const half_destroyed_element& element) {
    if (!path) return STG_E_INVALIDNAME;
    std::vector<structure_check::cut_stream> cut;
    try {
        structure_check check(path, &element);
        check.run();
        cut = check.cut_streams();
    } catch (const verdict& refused) {
        return refused.result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!cut.empty()) {
        HANDLE opened = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (opened == INVALID_HANDLE_VALUE) return STG_E_ACCESSDENIED;
        std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
        auto write = [&](uint64_t offset, const void* bytes, DWORD count) {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(offset);
            DWORD written = 0;
            return SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && WriteFile(file.get(), bytes, count, &written, nullptr) &&
                   written == count;
        };
        // Each step leaves the stream ending early as before, or whole, for a process ended in between: the chain
        // ends at its last sector, then the size is what it holds (the platform then frees those sectors); or, for
        // a chain too short to stand alone, the stream holds no sector and size 0, both in one write (what it kept
        // is then no stream's). The size field is 8 bytes at 0x78, after the first sector's 4 at 0x74.
        const unsigned char end[4] = {0xFE, 0xFF, 0xFF, 0xFF}, empty[12] = {0xFE, 0xFF, 0xFF, 0xFF};
        for (const auto& stream : cut) {
            unsigned char size[8] = {};
            for (int i = 0; i < 8; ++i) size[i] = static_cast<unsigned char>(stream.kept >> (8 * i));
            // The end mark is on the disk before the size changes, so that no power cut can leave the size cut
            // and the chain still running into a freed sector.
            if (stream.last_link ? !write(stream.last_link, end, 4) || !FlushFileBuffers(file.get()) ||
                                       !write(stream.entry + 0x78, size, 8)
                                 : !write(stream.entry + 0x74, empty, 12))
                return STG_E_WRITEFAULT;
        }
        if (!FlushFileBuffers(file.get())) return STG_E_WRITEFAULT;
    }
    return check_compound_file(path);
}

}  // namespace platform
