// The analyser: forwarding, the value array and column read-out under every setting.
#include "filtermap/BitmapArrayAnalyser.h"

#include "TestBmp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using namespace skvtest;

namespace {

float value(int v)
{
    return float((v * 0.0039215688593685627 - 0.5) * 2.0);
}

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

} // namespace

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
        EXPECT_EQ(d[std::size_t(y)], value(100 + y)); // column 5
    for (std::size_t i = 4; i < 80; ++i)
        ASSERT_EQ(d[i], 42.0f);
    a.setAnalysis(0.0f);
    a.setVerticalOffset(0.5f);
    d = column(a);
    EXPECT_EQ(d[0], value(102));
    EXPECT_EQ(d[1], value(103));
    EXPECT_EQ(d[2], 42.0f);
    a.setVerticalOffset(1.0f);
    EXPECT_EQ(column(a), std::vector<float>(80, 42.0f));
    // With analysis on, the offset is not used.
    a.setAnalysis(0.9f);
    EXPECT_EQ(column(a)[0], value(100));
}

TEST(BitmapArrayAnalyser, ColumnAndCountAreKeptInsideTheArray)
{
    kfx::CBitmapArrayAnalyser a("R");
    load10x4(a);
    a.setAnalysis(1.0f);
    // Scan index near 1 with loop stop 1 rounds to column 10, one past the picture.
    a.setScanIndex(0.97f);
    EXPECT_EQ(column(a)[0], value(180));
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
    a.getColumn(d.data(), -5, -1.0f); // negative count copies nothing
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
    EXPECT_EQ(column(a)[1], value(255 - 1));
    a.flip(false);
    EXPECT_EQ(column(a)[1], value(255 - 181));
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
