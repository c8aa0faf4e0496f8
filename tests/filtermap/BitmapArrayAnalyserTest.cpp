// The analyser: forwarding, the value array and column read-out under every setting.
#include "filtermap/BitmapArrayAnalyser.h"

#include "TestBmp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>

using namespace skvtest;

// Lock discipline probe. While armed, allocating an array of a watched size, or releasing
// an array that was allocated so, first asks a reader thread to fetch a column and waits
// for it. If the analyser held its lock at that moment the column read could not finish,
// and the wait ends by the deadline instead. The hook itself never allocates.
namespace {

std::atomic<bool> gArmed{false};
std::atomic<std::size_t> gWatchedBytes[2] = {{0}, {0}};
std::atomic<void*> gWatchedArrays[4] = {{nullptr}, {nullptr}, {nullptr}, {nullptr}};
std::atomic<int> gNextWatched{0};
std::atomic<int> gProbeRequests{0};
std::atomic<int> gProbesServed{0};
std::atomic<int> gProbesAnswered{0};
std::atomic<int> gProbesBlocked{0};

void probeReader()
{
    const int request = ++gProbeRequests;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (gProbesServed.load() < request) {
        if (std::chrono::steady_clock::now() > deadline) {
            ++gProbesBlocked;
            return;
        }
        std::this_thread::yield();
    }
    ++gProbesAnswered;
}

bool watchedSize(std::size_t bytes)
{
    return gArmed.load() && (bytes == gWatchedBytes[0].load() || bytes == gWatchedBytes[1].load());
}

bool watchedArray(void* p)
{
    if (p == nullptr || !gArmed.load())
        return false;
    for (auto& w : gWatchedArrays)
        if (w.load() == p)
            return true;
    return false;
}

}  // namespace

void* operator new[](std::size_t bytes)
{
    const bool watched = watchedSize(bytes);
    if (watched)
        probeReader();
    void* p = std::malloc(bytes != 0 ? bytes : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    if (watched)
        gWatchedArrays[gNextWatched++ % 4].store(p);
    return p;
}

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept
{
    try {
        return operator new[](bytes);
    }
    catch (...) {
        return nullptr;
    }
}

void operator delete[](void* p) noexcept
{
    if (watchedArray(p))
        probeReader();
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    operator delete[](p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    operator delete[](p);
}

namespace {

// 10 x 4 grey picture, sample = 20 x + y.
void load10x4(kfx::CBitmapArrayAnalyser& a)
{
    loadBytes(a, makeGrey24(10, 4, [](int x, int y) { return 20 * x + y; }));
    ASSERT_TRUE(a.isValid());
}

std::vector<float> column(kfx::CBitmapArrayAnalyser& a)
{
    std::vector<float> d(80, 42.0f);
    a.getColumn(d.data(), 80, -1.0f);
    return d;
}

}  // namespace

TEST(BitmapArrayAnalyser, DefaultsAndOwnName)
{
    kfx::CBitmapArrayAnalyser a("L");
    EXPECT_EQ(a.getName(), "L");
    EXPECT_EQ(a.getLoopStart(), 0.0f);
    EXPECT_EQ(a.getLoopStop(), 1.0f);
    EXPECT_EQ(a.getScanIndex(), 0.0f);
    EXPECT_EQ(a.getVerticalOffset(), 0.0f);
    EXPECT_EQ(a.getAnalysis(), 0.0f);
    EXPECT_EQ(a.getHelper().getName(), "BitmapHelper");
    load10x4(a);
    EXPECT_EQ(a.getName(), "L");
    EXPECT_NE(column(a)[0], 42.0f);
}

TEST(BitmapArrayAnalyser, ColumnExamplesOnATenByFourPicture)
{
    kfx::CBitmapArrayAnalyser a("L");
    load10x4(a);
    a.setLoopStart(0.0f);
    a.setLoopStop(1.0f);
    a.setScanIndex(0.5f);
    a.setAnalysis(1.0f);
    auto d = column(a);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(d[std::size_t(y)], expectedValue(100 + y));  // column 5
    for (std::size_t i = 4; i < 80; ++i)
        ASSERT_EQ(d[i], 42.0f);
    a.setAnalysis(0.0f);
    a.setVerticalOffset(0.5f);
    d = column(a);
    EXPECT_EQ(d[0], expectedValue(102));
    EXPECT_EQ(d[1], expectedValue(103));
    EXPECT_EQ(d[2], 42.0f);
    a.setVerticalOffset(1.0f);
    EXPECT_EQ(column(a), std::vector<float>(80, 42.0f));
    // With analysis on, the offset is not used.
    a.setAnalysis(0.9f);
    EXPECT_EQ(column(a)[0], expectedValue(100));
}

TEST(BitmapArrayAnalyser, ColumnAndCountAreKeptInsideTheArray)
{
    kfx::CBitmapArrayAnalyser a("R");
    load10x4(a);
    a.setAnalysis(1.0f);
    // Scan index near 1 with loop stop 1 rounds to column 10, one past the picture.
    a.setScanIndex(0.97f);
    EXPECT_EQ(column(a)[0], expectedValue(180));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float start : {-5.0f, 0.0f, 0.5f, 7.0f, nan, inf})
        for (float stop : {-3.0f, 1.0f, 9.0f, nan, -inf})
            for (float index : {-2.0f, 0.3f, 1.0f, 40.0f, nan})
                for (float offset : {-1.0f, 0.25f, 1.0f, 3.0f, nan, inf}) {
                    a.setLoopStart(start);
                    a.setLoopStop(stop);
                    a.setScanIndex(index);
                    a.setVerticalOffset(offset);
                    a.setAnalysis(0.0f);
                    std::vector<float> d(80, 42.0f);
                    a.getColumn(d.data(), 80, -1.0f);
                    for (std::size_t i = 4; i < 80; ++i)
                        ASSERT_EQ(d[i], 42.0f);
                }
    std::vector<float> d(2, 42.0f);
    a.setVerticalOffset(0.0f);
    a.getColumn(d.data(), -5, -1.0f);  // negative count copies nothing
    EXPECT_EQ(d[0], 42.0f);
    a.getColumn(d.data(), 2, -1.0f);  // a short destination gets only its count
    EXPECT_NE(d[0], 42.0f);
}

TEST(BitmapArrayAnalyser, EveryChangeRebuildsTheArray)
{
    kfx::CBitmapArrayAnalyser a("L");
    load10x4(a);
    a.setAnalysis(1.0f);
    a.invert();
    EXPECT_EQ(column(a)[1], expectedValue(255 - 1));
    a.flip(false);
    EXPECT_EQ(column(a)[1], expectedValue(255 - 181));
    a.rotateClockwise(1);
    EXPECT_EQ(a.getWidth(), 4);
    EXPECT_EQ(a.getHeight(), 10);
    EXPECT_NE(column(a)[9], 42.0f);
    a.normalize(true);
    a.differences(true);
    a.convertTo24Bit();
    a.generateRandom(1.0);
    a.generateMandelbrot(0.0);
    EXPECT_TRUE(a.isModified());
    int w, h;
    const std::string text = a.encodeImage(w, h);
    kfx::CBitmapArrayAnalyser b("R");
    b.decodeImage(text, w, h);
    b.setAnalysis(1.0f);
    a.setScanIndex(0.0f);
    EXPECT_EQ(column(b), column(a));
    a.loadFromFile("/nonexistent/none.bmp");
    EXPECT_FALSE(a.isValid());
    EXPECT_EQ(column(a), std::vector<float>(80, 42.0f));
    a.importArray(nullptr, 0, 0);
    EXPECT_FALSE(a.isValid());
}

TEST(BitmapArrayAnalyser, ColumnsStayWholeWhileThePictureChanges)
{
    kfx::CBitmapArrayAnalyser a("L");
    const auto dark = makeGrey24(30, 20, [](int, int) { return 0; });
    const auto light = makeGrey24(9, 60, [](int, int) { return 255; });
    loadBytes(a, dark);
    a.setScanIndex(0.99f);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            float d[80];
            std::fill(d, d + 80, 0.5f);
            a.getColumn(d, 80, -1.0f);
            int n = 0;
            while (n < 80 && d[n] != 0.5f)
                ++n;
            // 20 values of -1 or 60 values of 1.0000001, never a mixture or another count.
            const bool whole = (n == 20 && d[0] == -1.0f) || (n == 60 && d[0] > 1.0f) || n == 0;
            for (int i = 1; i < n; ++i)
                if (d[i] != d[0])
                    torn++;
            if (!whole)
                torn++;
        }
    });
    const auto pathA = tempPath("dark.bmp"), pathB = tempPath("light.bmp");
    writeFile(pathA, dark);
    writeFile(pathB, light);
    for (int i = 0; i < 200; ++i)
        a.loadFromFile((i % 2 ? pathA : pathB).string());
    stop = true;
    reader.join();
    std::filesystem::remove(pathA);
    std::filesystem::remove(pathB);
    EXPECT_EQ(torn.load(), 0);
}

TEST(BitmapArrayAnalyser, OnlyTheSwapHappensUnderTheLock)
{
    kfx::CBitmapArrayAnalyser a("L");
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        int served = 0;
        while (!stop) {
            if (gProbeRequests.load() > served) {
                float d[80];
                a.getColumn(d, 80, -1.0f);
                gProbesServed.store(++served);
            }
            else {
                std::this_thread::yield();
            }
        }
    });
    // Two sizes of value array: 10 x 4 and 6 x 5 floats.
    gWatchedBytes[0] = 10 * 4 * sizeof(float);
    gWatchedBytes[1] = 6 * 5 * sizeof(float);
    gArmed = true;
    load10x4(a);  // allocates the first array
    loadBytes(
        a, makeGrey24(6, 5, [](int x, int y) { return x + y; }));  // allocates, releases the first
    load10x4(a);                                                   // allocates, releases the second
    gArmed = false;
    stop = true;
    reader.join();
    EXPECT_EQ(gProbesBlocked.load(), 0);
    EXPECT_GE(gProbesAnswered.load(), 5);  // three allocations and two releases were seen
}

TEST(BitmapArrayAnalyser, EveryOperationLeavesAnArrayMatchingThePicture)
{
    kfx::CBitmapArrayAnalyser a("L");
    loadBytes(a,
              makeGrey24(9, 6, [](int x, int y) { return (x * 37 + y * 101 + x * y * 13) % 256; }));
    ASSERT_TRUE(a.isValid());
    a.setAnalysis(1.0f);
    a.setLoopStart(0.0f);
    a.setLoopStop(1.0f);
    auto check = [&](const char* what) {
        SCOPED_TRACE(what);
        const kfx::CBitmapHelper& h = a.getHelper();
        ASSERT_TRUE(h.isValid());
        ASSERT_EQ(h.getBitsPerPixel(), 24);
        const int w = h.getWidth(), ht = h.getHeight();
        for (int x = 0; x < w; ++x) {
            a.setScanIndex((float(x) + 0.25f) / float(w));  // rounds to column x
            const auto d = column(a);
            for (int y = 0; y < ht; ++y)
                ASSERT_EQ(d[std::size_t(y)], expectedValue(rawByte(h, x, y))) << x << "," << y;
            ASSERT_EQ(d[std::size_t(ht)], 42.0f);
        }
    };
    check("load");
    a.invert();
    check("invert");
    a.flip(false);
    check("flip horizontal");
    a.flip(true);
    check("flip vertical");
    a.rotateClockwise(1);
    check("rotate");
    a.differences(false);
    check("differences");
    a.differences(true);
    check("differences (absolute)");
    a.normalize(true);
    check("normalize (columns)");
    a.normalize(false);
    check("normalize (all)");
    a.generateRandom(1.0);
    check("random");
    a.generateMandelbrot(0.0);
    check("Mandelbrot 1");
    a.generateMandelbrot(0.1);
    check("Mandelbrot 2");
    a.convertTo24Bit();
    check("convert");
    kfx::CBitmapHelper other("other");
    loadBytes(other, makeGrey24(4, 7, [](int x, int y) { return 200 - x * 9 - y; }));
    int w = 0, h = 0;
    a.decodeImage(other.encodeImage(w, h), w, h);
    check("decode");
    a.attachImage(other.createCopy());
    check("attach");
}

TEST(BitmapArrayAnalyser, PublishedArrayWidthFollowsEachAnalyse)
{
    kfx::CBitmapArrayAnalyser a("L");
    EXPECT_FALSE(a.hasArray());
    EXPECT_EQ(a.getArrayWidth(), 0);
    load10x4(a);
    EXPECT_TRUE(a.hasArray());
    EXPECT_EQ(a.getArrayWidth(), 10);
    a.rotateClockwise(1);
    EXPECT_EQ(a.getArrayWidth(), 4);
    a.loadFromFile("/nonexistent/none.bmp");
    EXPECT_FALSE(a.hasArray());
    EXPECT_EQ(a.getArrayWidth(), 0);
}
