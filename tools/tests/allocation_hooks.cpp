#include "allocation_hooks.h"

#include <windows.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

thread_local int allocations_spared = -1;  // below zero: no allocation fails

std::atomic<const std::vector<std::vector<unsigned char>>*> watched{nullptr};
std::atomic<int> holding{0};

bool holds(const unsigned char* block, size_t size, const std::vector<unsigned char>& pattern) {
    if (pattern.empty() || pattern.size() > size) return false;
    for (size_t at = 0; at + pattern.size() <= size; ++at)
        if (block[at] == pattern[0] && std::memcmp(block + at, pattern.data(), pattern.size()) == 0) return true;
    return false;
}

void* allocate(size_t size) {
    if (allocations_spared == 0) throw std::bad_alloc();
    if (allocations_spared > 0) --allocations_spared;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void release(void* p) noexcept {
    if (!p) return;
    if (const auto* patterns = watched.load()) {
        const auto* block = static_cast<const unsigned char*>(p);
        size_t size = _msize(p);
        for (const auto& pattern : *patterns)
            if (holds(block, size, pattern)) {
                ++holding;
                break;
            }
    }
    std::free(p);
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }

namespace testing {

failing_allocations::failing_allocations(int spared) { allocations_spared = spared; }
failing_allocations::~failing_allocations() { allocations_spared = -1; }

freed_memory_watch::freed_memory_watch(std::vector<std::vector<unsigned char>> patterns)
    : patterns_(std::move(patterns)) {
    holding = 0;
    watched = &patterns_;
}
freed_memory_watch::~freed_memory_watch() { watched = nullptr; }
int freed_memory_watch::blocks_holding() const { return holding; }

}  // namespace testing
