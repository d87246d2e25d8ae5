// A Win32 critical section and the scoped lock that holds it for one block.
#pragma once
#include <windows.h>
#include "root_object.h"

namespace tools {

class critical_section : public root_object {
public:
    critical_section() { InitializeCriticalSection(&section_); }
    ~critical_section() override { DeleteCriticalSection(&section_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;
    CRITICAL_SECTION* get() noexcept { return &section_; }

private:
    CRITICAL_SECTION section_;
};

class scoped_lock : public root_object {
public:
    explicit scoped_lock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    explicit scoped_lock(critical_section& section) : scoped_lock(section.get()) {}
    ~scoped_lock() override { LeaveCriticalSection(section_); }
    scoped_lock(const scoped_lock&) = delete;
    scoped_lock& operator=(const scoped_lock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

}  // namespace tools
