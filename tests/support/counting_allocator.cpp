// The counting allocator (CountingAllocator.h).

#include "CountingAllocator.h"

#include <cstddef>

namespace marovane_test {
thread_local bool countAllocations = false;
thread_local size_t allocationCalls = 0;
} // namespace marovane_test

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
void Count()
{
    if (marovane_test::countAllocations)
        ++marovane_test::allocationCalls;
}
} // namespace

// The allocator every library of the process goes through (operator new
// calls malloc).
extern "C" {
void* malloc(size_t n)
{
    Count();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size)
{
    Count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n)
{
    Count();
    return __libc_realloc(p, n);
}
void free(void* p)
{
    if (p)
        Count();
    __libc_free(p);
}
void* memalign(size_t alignment, size_t n)
{
    Count();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n)
{
    Count();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** p, size_t alignment, size_t n)
{
    Count();
    *p = __libc_memalign(alignment, n);
    return *p ? 0 : 12; // ENOMEM
}
}
