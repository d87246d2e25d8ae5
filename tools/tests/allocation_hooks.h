// The test programs' own operator new and delete, through which a test makes allocations fail or looks at what
// the code under test leaves in the memory it frees. Link allocation_hooks.cpp into the program to use them.
#pragma once
#include <cstddef>
#include <vector>

namespace testing {

// While it lives, allocations through operator new on this thread fail with std::bad_alloc, once `spared`
// of them have succeeded.
class failing_allocations {
public:
    explicit failing_allocations(int spared = 0);
    ~failing_allocations();
    failing_allocations(const failing_allocations&) = delete;
    failing_allocations& operator=(const failing_allocations&) = delete;
};

// While it lives, every block freed through operator delete (on any thread) is searched for the patterns
// before it goes back to the heap; blocks_holding() counts those that held one.
class freed_memory_watch {
public:
    explicit freed_memory_watch(std::vector<std::vector<unsigned char>> patterns);
    ~freed_memory_watch();
    freed_memory_watch(const freed_memory_watch&) = delete;
    freed_memory_watch& operator=(const freed_memory_watch&) = delete;
    int blocks_holding() const;

private:
    std::vector<std::vector<unsigned char>> patterns_;
};

}  // namespace testing
