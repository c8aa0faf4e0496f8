// Nothing on the audio path allocates: this program replaces the global operator new (every
// form) with one that counts the calls made by the counting thread, then runs every
// per-sample and per-sub-block call of the signal-processing units under the counter. The
// same replacement can make an aligned no-throw allocation fail, for the LPC construction.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "AllocationProbe.h"
#include "dsp/Delay.h"
#include "dsp/DrivenSVF.h"
#include "dsp/FastMath.h"
#include "dsp/LatticeStereoKernel.h"
#include "dsp/Saturation.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"

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

namespace {

using Lattice = usp::CUnitWIIRLattice<float, 81>;

std::vector<float> noise(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.8f, 0.8f);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (float& x : v)
        x = d(rng);
    return v;
}

}  // namespace

TEST(AudioPathAllocation, TheCounterSeesAllocations)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    skvtest::startCountingAllocations();
    std::vector<float>* v = new std::vector<float>(10);
    delete v;
    EXPECT_EQ(skvtest::stopCountingAllocations(), 2);
}

TEST(AudioPathAllocation, DelayLine)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    Delay<float> line(176400);
    const std::vector<float> x = noise(5000, 1);
    float sink = 0;
    skvtest::startCountingAllocations();
    line.setDelay(3000.5f);
    for (float v : x)
        sink += line.processSample(v);
    line.setReverse(1.0f);
    line.setDelay(700.0f);
    for (float v : x)
        sink += line.processSample(v);
    line.clear();
    line.setReverse(0.0f);
    for (int i = 0; i < 100; ++i)
        sink += line.processSample(0.1f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, LatticeSubBlockScanStepAndSamples)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    Lattice left, right;
    const std::vector<float> column = noise(80, 2);
    const std::vector<float> x = noise(512, 3);
    std::vector<float> outL(512), outR(512);
    float sink = 0;
    skvtest::startCountingAllocations();
    for (int block = 0; block < 16; ++block) {
        // A scan step on the audio thread: new targets, then the order (which re-lays out
        // the arrays).
        for (Lattice* l : {&left, &right}) {
            l->setTargetCoefficients(column.data(), 80);
            l->setOrder(block % 2 ? 80 : 12 + block);
            l->glideCoefficients(0.6f, 0.9f);
        }
        {
            std::lock_guard<std::recursive_mutex> lockL(left.lock);
            std::lock_guard<std::recursive_mutex> lockR(right.lock);
            usp::processStereoLattice(left, right, x.data() + 32 * block, x.data() + 32 * block,
                                      outL.data(), outR.data(), 32);
            for (int i = 0; i < 32; ++i)
                sink += left.process(x[i]) + outL[i] + outR[i];
        }
    }
    left.setCoefficientsAt(column.data(), 80, 0.5f);
    left.setCoefficients(column.data(), 80);
    left.updateCoefficients();
    left.clearState();
    left.resetCoefficients();
    right.reset();
    right.initialize();
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, LpcExtraction)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    usp::CWarpedLPCExtraction<float, 256, 60> lpc;
    const std::vector<float> frame = noise(512, 4);
    const std::vector<float> silence(512, 0.0f);
    std::vector<float> out(80);
    skvtest::startCountingAllocations();
    lpc.extract(frame.data(), out.data(), 80, 0.85f);
    lpc.extract(frame.data(), out.data(), 80, 0.0f);
    lpc.extract(silence.data(), out.data(), 40, 0.85f);
    lpc.setFrameLength(100);
    lpc.extract(frame.data(), out.data(), 80, 0.85f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
}

TEST(AudioPathAllocation, OutputStage)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    os2Distort plain, twice;
    Filter<5> filter;
    std::vector<float> buf = noise(256, 5);
    float sink = 0;
    skvtest::startCountingAllocations();
    plain.configure(false, 0.5f, 0.05f, 0.3f, 0.99f, 1.2f);
    twice.configure(true, 0.5f, 0.05f, 0.3f, 0.99f, 1.2f);
    for (int i = 0; i < 256; ++i)
        sink += plain.processSample(buf[i]) + twice.processSample(buf[i]);
    plain.process(buf.data(), 256);
    twice.process(buf.data(), 256);
    twice.reset();
    twice.setGain(1.0f);
    for (int i = 0; i < 64; ++i)
        sink += filter.processSample(buf[i]);
    sink += skv::fastExp(-100.0f) + skv::fastExp(-0.3f) + skv::fastLog10(0.2f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, BandBankAndItsBands)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    CSelBand bank;
    CDrivenSVF svf;
    const std::vector<float> column = noise(80, 6);
    std::vector<float> buf = noise(512, 7);
    float warp = 0.5f;
    float sink = 0;
    skvtest::startCountingAllocations();
    bank.setActiveBands(20);
    bank.resetBands();
    bank.setSmoothing(0.95f);
    bank.setFromColumn(column.data());
    for (int i = 0; i < 300; ++i)
        sink += bank.processSample(buf[i], 0.6f, 0.9f) + svf.processSample(buf[i]);
    bank.process(buf.data(), buf.data(), 512, warp, 0.0001f, 0.9f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}
