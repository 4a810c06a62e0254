// Counting forwards for every allocation function of the process (see AllocationCount.h).

#include "AllocationCount.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> Allocations{0};
}

long long AllocationCount()
{
    return Allocations.load(std::memory_order_relaxed);
}

extern "C" void* __libc_malloc(size_t);

// operator new takes glibc's allocator directly, so that the malloc below counts it once.
void* operator new(std::size_t size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = __libc_malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// Qt's containers allocate with malloc, not operator new; those are counted through glibc's
// own entry points, which this program overrides and forwards.
extern "C" {
void* __libc_realloc(void*, size_t);
void* __libc_calloc(size_t, size_t);
void* malloc(size_t size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* realloc(void* p, size_t size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void* calloc(size_t n, size_t size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
}
