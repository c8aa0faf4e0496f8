// The allocation probe of the test programs: a replacement of every form of the global
// operator new and delete that counts the calls made by a counting thread, and can make an
// aligned no-throw allocation fail. Compiled into each test program that includes
// AllocationProbe.h (one replacement per program).
#include "support/AllocationProbe.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

// The thread sanitizer's runtime brings its own operator new and delete, which cannot be
// replaced; there the hooks do nothing and the tests that need them skip.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SKV_NO_NEW_REPLACEMENT 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define SKV_NO_NEW_REPLACEMENT 1
#endif

#if !defined(SKV_NO_NEW_REPLACEMENT)

namespace {

thread_local bool tCounting = false;
thread_local long tCount = 0;
std::atomic<int> gFailCountdown{0};

void* allocate(std::size_t size, std::size_t align)
{
    if (tCounting)
        ++tCount;
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (align <= alignof(std::max_align_t))
        p = std::malloc(size);
    else if (posix_memalign(&p, align, size) != 0)
        p = nullptr;
    return p;
}

void* allocateOrThrow(std::size_t size, std::size_t align)
{
    void* p = allocate(size, align);
    if (!p)
        throw std::bad_alloc();
    return p;
}

bool injectedFailure()
{
    int left = gFailCountdown.load();
    while (left > 0) {
        if (gFailCountdown.compare_exchange_weak(left, left - 1))
            return left == 1;
    }
    return false;
}

}  // namespace

void* operator new(std::size_t n)
{
    return allocateOrThrow(n, 0);
}
void* operator new[](std::size_t n)
{
    return allocateOrThrow(n, 0);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return allocate(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return allocate(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a)
{
    return allocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    return allocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    if (injectedFailure()) {
        if (tCounting)
            ++tCount;
        return nullptr;
    }
    return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}

namespace skvtest {

bool allocationProbeAvailable()
{
    return true;
}

void startCountingAllocations()
{
    tCount = 0;
    tCounting = true;
}

long stopCountingAllocations()
{
    tCounting = false;
    return tCount;
}

void failAlignedNoThrowAllocation(int n)
{
    gFailCountdown.store(n > 0 ? n : 0);
}

}  // namespace skvtest

#else

namespace skvtest {

bool allocationProbeAvailable()
{
    return false;
}
void startCountingAllocations() {}
long stopCountingAllocations()
{
    return 0;
}
void failAlignedNoThrowAllocation(int) {}

}  // namespace skvtest

#endif
