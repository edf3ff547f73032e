#pragma once
// The C library's allocator, replaced for the whole test program by one that
// counts the calls made on a thread while that thread asks it to (link
// tests/support/counting_allocator.cpp, and give the program
// ENABLE_EXPORTS so that a plugin loaded into it calls these too).

#include <cstddef>

namespace marovane_test {
// This thread's calls are counted while countAllocations is set.
extern thread_local bool countAllocations;
extern thread_local size_t allocationCalls;
} // namespace marovane_test
