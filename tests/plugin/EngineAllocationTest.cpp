// The audio path never allocates: every operator new of the process (all of them are replaced
// here, so that allocation and release always pair up) is counted while blocks run
// through each filter mode, scan steps (map columns, self-analysis, slave), tempo polls with a
// tempo change, backward lines and a blow-up reset.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "EngineProbe.h"
#include "dsp/UnitWIIRLattice.h"

// The thread sanitizer's runtime brings its own operator new and delete, which cannot be
// replaced; the count runs in every other build.
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

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* allocate(std::size_t size, std::size_t alignment)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size);
    }
    else {
        const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc(alignment, rounded);
    }
    if (!p)
        throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size)
{
    return allocate(size, 0);
}
void* operator new[](std::size_t size)
{
    return allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a)
{
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a)
{
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, 0);
    }
    catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept
{
    return operator new(size, t);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size, static_cast<std::size_t>(a));
    }
    catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t& t) noexcept
{
    return operator new(size, a, t);
}
void operator delete(void* p) noexcept
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
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
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

#endif

TEST(EngineAllocation, NoAllocationWhileProcessing)
{
#if defined(SKV_NO_NEW_REPLACEMENT)
    GTEST_SKIP() << "operator new cannot be replaced in this build";
#else
    enginetest::setScriptedTime(120.0, 2.5, 0.0);
    enginetest::CEngineProbe fx(&enginetest::scriptedHost);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-0.8f, 0.8f);
    std::vector<float> inL(512), inR(512), outL(512), outR(512);
    auto runBlocks = [&](int blocks, int size) {
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < size; ++i) {
                inL[i] = dist(gen);
                inR[i] = dist(gen);
            }
            counting = true;
            fx.block(inL.data(), inR.data(), outL.data(), outR.data(), size);
            counting = false;
        }
    };
    // Settings change between blocks, outside the counted window.
    fx.setParameter(40, 1.0f);
    fx.setParameter(41, 0.0f);  // a scan step every 32 samples
    fx.setParameter(47, 0.3f);  // synced delays and scan: tempo polls
    fx.setParameter(48, 0.3f);
    runBlocks(40, 512);         // lattices reading both filter maps
    fx.setParameter(36, 1.0f);  // band filters
    fx.setParameter(37, 1.0f);
    fx.setParameter(4, 1.0f);  // backward lines
    fx.setParameter(5, 1.0f);
    runBlocks(40, 100);  // sub-blocks of one sample
    fx.setParameter(36, 0.0f);
    fx.setParameter(37, 0.0f);
    fx.setParameter(38, 0.7f);                     // left self-analysis
    fx.setParameter(39, 1.0f);                     // right follows left
    enginetest::setScriptedTime(97.0, 7.25, 4.0);  // tempo change: delays follow at a poll
    runBlocks(600, 64);
    fx.setParameter(39, 0.5f);            // right self-analysis
    fx.engine.lattice[0]->output = 1e6f;  // runaway left channel
    runBlocks(20, 512);
    EXPECT_EQ(allocations.load(), 0);
    // The counter itself works.
    counting = true;
    auto* probe = new std::vector<float>(3);
    counting = false;
    delete probe;
    EXPECT_GE(allocations.load(), 1);
#endif
}
