// Generators and transforms: the documented examples and their modified-flag rules.
#include "filtermap/BitmapHelper.h"

#include "TestBmp.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace skvtest;

namespace {

std::vector<int> samples(const kfx::CBitmapHelper& h)
{
    std::vector<int> s;
    for (int y = 0; y < h.getHeight(); ++y)
        for (int x = 0; x < h.getWidth(); ++x)
            s.push_back(h.sampleAt(x, y));
    return s;
}

bool allBytesEqual(const kfx::CBitmapHelper& h)
{
    for (int y = 0; y < h.getHeight(); ++y)
        for (int x = 0; x < h.getWidth(); ++x)
            if (rawByte(h, x, y, 1) != rawByte(h, x, y, 0) ||
                rawByte(h, x, y, 2) != rawByte(h, x, y, 0))
                return false;
    return true;
}

void loadGrey(kfx::CBitmapHelper& h, int w, int ht, int (*f)(int, int))
{
    loadBytes(h, makeGrey24(w, ht, f));
    ASSERT_TRUE(h.isValid());
}

}  // namespace

TEST(BitmapTransforms, InvertTwiceRestoresAndGreysAColourPicture)
{
    kfx::CBitmapHelper h("h");
    loadBytes(h,
              make24(5, 3, [](int x, int y) { return std::uint32_t(0x102030 + x * 17 + y * 40); }));
    const auto before = samples(h);
    h.invert();
    EXPECT_TRUE(h.isModified());
    EXPECT_EQ(h.sampleAt(0, 0), 255 - 0x30);
    EXPECT_TRUE(allBytesEqual(h));
    h.invert();
    EXPECT_EQ(samples(h), before);
}

TEST(BitmapTransforms, DifferencesOfAUniformColumn)
{
    kfx::CBitmapHelper h("h");
    loadGrey(h, 1, 3, [](int, int) { return 100; });
    h.differences(false);
    EXPECT_EQ(samples(h),
              (std::vector<int>{178, 128, 128}));  // (100 + 255) / 2 = 177.5 -> 178 (even)
    loadGrey(h, 1, 3, [](int, int) { return 100; });
    h.differences(true);
    EXPECT_EQ(samples(h), (std::vector<int>{200, 0, 0}));
    // The extremes: +255 gives 255, -255 gives 0, and 2|d| saturates.
    loadGrey(h, 2, 2, [](int x, int y) { return (x == 0) == (y == 0) ? 255 : 0; });
    h.differences(false);
    EXPECT_EQ(samples(h), (std::vector<int>{255, 128, 0, 255}));
    loadGrey(h, 1, 2, [](int, int y) { return y == 0 ? 200 : 60; });
    h.differences(true);
    EXPECT_EQ(samples(h), (std::vector<int>{255, 255}));
}

TEST(BitmapTransforms, NormalizeStretchesColumnsOrThePicture)
{
    kfx::CBitmapHelper h("h");
    // Column 0: 10, 60; column 1 uniform 77; column 2: 20, 30.
    loadGrey(h, 3, 2, [](int x, int y) {
        return x == 0 ? (y ? 60 : 10) : x == 1 ? 77 : (y ? 30 : 20);
    });
    h.normalize(true);
    EXPECT_EQ(samples(h), (std::vector<int>{0, 0, 0, 255, 0, 255}));
    loadGrey(h, 3, 2, [](int x, int y) {
        return x == 0 ? (y ? 60 : 10) : x == 1 ? 77 : (y ? 30 : 20);
    });
    h.normalize(false);
    // One scale 255/67 over the picture: 60 -> 190.3 -> 190, 77 -> 255, 20 -> 38.06 -> 38.
    EXPECT_EQ(samples(h), (std::vector<int>{0, 255, 38, 190, 255, 76}));
    loadGrey(h, 2, 2, [](int, int) { return 9; });
    h.normalize(false);
    EXPECT_EQ(samples(h), (std::vector<int>{0, 0, 0, 0}));
}

TEST(BitmapTransforms, RotateThreeByTwoAndFourTimes)
{
    kfx::CBitmapHelper h("h");
    // Sample = 10 x + y: bottom row 0 10 20, top row 1 11 21.
    loadGrey(h, 3, 2, [](int x, int y) { return 10 * x + y; });
    h.rotateClockwise(1);
    ASSERT_EQ(h.getWidth(), 2);
    ASSERT_EQ(h.getHeight(), 3);
    EXPECT_EQ(h.getStride(), 8);
    // Top row (y = 2) holds the old left column: bottom-left at its left, top-left at its right.
    EXPECT_EQ(h.sampleAt(0, 2), 0);
    EXPECT_EQ(h.sampleAt(1, 2), 1);
    EXPECT_EQ(h.sampleAt(0, 1), 10);
    EXPECT_EQ(h.sampleAt(1, 1), 11);
    EXPECT_EQ(h.sampleAt(0, 0), 20);  // the bottom row is written too
    EXPECT_EQ(h.sampleAt(1, 0), 21);
    kfx::CBitmapHelper g("g");
    loadBytes(
        g, make24(5, 3, [](int x, int y) { return std::uint32_t(x * 0x030201 + y * 0x101010); }));
    const auto pixels = *g.getPixelBlock();
    for (int i = 0; i < 4; ++i)
        g.rotateClockwise(0);
    EXPECT_EQ(*g.getPixelBlock(), pixels);
    EXPECT_EQ(g.getWidth(), 5);
}

TEST(BitmapTransforms, FlipTwiceRestoresAtEveryDepth)
{
    for (int bits : {1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        const int w = 7, ht = 3, s = strideOf(w, bits);
        std::vector<std::uint8_t> px(std::size_t(s * ht), 0);
        for (int y = 0; y < ht; ++y)
            for (int i = 0; i < (w * bits) / 8; ++i)
                px[std::size_t(y) * std::size_t(s) + std::size_t(i)] =
                    std::uint8_t(i * 29 + y * 5 + 1);
        std::vector<std::uint8_t> table(bits <= 8 ? 4u << bits : 0u, 0);
        kfx::CBitmapHelper h("h");
        loadBytes(h, makeBmp(w, ht, bits, px, table));
        ASSERT_TRUE(h.isValid());
        const auto before = samples(h);
        const int corner = h.sampleAt(0, 0);
        h.flip(false);
        EXPECT_EQ(h.sampleAt(w - 1, 0), corner);
        h.flip(false);
        EXPECT_EQ(samples(h), before);
        h.flip(true);
        EXPECT_EQ(h.sampleAt(0, ht - 1), corner);
        h.flip(true);
        EXPECT_EQ(samples(h), before);
        EXPECT_EQ(h.getBitsPerPixel(), bits);
        EXPECT_TRUE(h.isModified());
    }
}

TEST(BitmapTransforms, ConvertTo24BitGoesThroughTheTableAndKeepsIt)
{
    kfx::CBitmapHelper h("h");
    const std::vector<std::uint8_t> table = {1, 2, 3, 0, 40, 50, 60, 0};
    loadBytes(h, makeBmp(3, 1, 8, {1, 0, 1, 0}, table));
    h.convertTo24Bit();
    EXPECT_TRUE(h.isModified());
    EXPECT_EQ(h.getBitsPerPixel(), 24);
    EXPECT_EQ(h.getStride(), 12);
    EXPECT_EQ(rawByte(h, 0, 0, 0), 40);
    EXPECT_EQ(rawByte(h, 0, 0, 2), 60);
    EXPECT_EQ(rawByte(h, 1, 0, 1), 2);
    EXPECT_EQ((*h.getHeaderBlock())[40 + 4 + 1], 50);  // colour table stays
    // Operations needing 24 bits convert first: normalize on 8 bits reads the table's blue.
    kfx::CBitmapHelper n("n");
    loadBytes(n, makeBmp(3, 1, 8, {1, 0, 1, 0}, table));
    n.normalize(false);
    EXPECT_EQ(samples(n), (std::vector<int>{255, 0, 255}));
}

TEST(BitmapTransforms, EscapeValues)
{
    EXPECT_EQ(kfx::CBitmapHelper::escape(0, 0, 0), 0);
    EXPECT_EQ(kfx::CBitmapHelper::escape(3, 0, 0), 600);
    EXPECT_EQ(kfx::CBitmapHelper::escape(1, 0, 0), 598);  // 1 -> 2 -> 5: |z|^2 = 4 does not stop it
    EXPECT_EQ(kfx::CBitmapHelper::escape(-2, 0, 0), 0);   // stays at 4 for ever
    // Shape 0.1 twists the orbit: c = 0.3 escapes with it (sx, sy lag pulls it out) or not,
    // but the result always lies in 0..600.
    for (double c = -2.0; c <= 2.0; c += 0.37) {
        const int e = kfx::CBitmapHelper::escape(c, c * 0.5, 0.1);
        EXPECT_GE(e, 0);
        EXPECT_LE(e, 600);
    }
}

TEST(BitmapTransforms, RandomPicturesAreGreyAndMostlyDark)
{
    kfx::CBitmapHelper h("h");
    loadGrey(h, 64, 64, [](int, int) { return 0; });
    h.generateRandom(1.0);
    EXPECT_TRUE(h.isModified());
    EXPECT_TRUE(allBytesEqual(h));
    int below = 0, maxSeen = 0;
    for (int s : samples(h)) {
        below += s < 128;
        maxSeen = std::max(maxSeen, s);
    }
    // Half-normal with scale 0.3: P(x < 128/255) is about 0.906.
    EXPECT_GT(below, 4096 * 80 / 100);
    EXPECT_LT(below, 4096 * 98 / 100);
    EXPECT_GT(maxSeen, 200);
    // Below 8 bits every byte of a row, padding included, is rand() % 255.
    kfx::CBitmapHelper p("p");
    loadBytes(
        p, makeBmp(3, 2, 4, std::vector<std::uint8_t>(8, 0xFF), std::vector<std::uint8_t>(64, 0)));
    p.generateRandom(1.0);
    for (std::uint8_t b : *p.getPixelBlock())
        EXPECT_LT(b, 255);
    // Two holders made together draw different pictures.
    kfx::CBitmapHelper q("q");
    loadGrey(q, 64, 64, [](int, int) { return 0; });
    q.generateRandom(1.0);
    EXPECT_NE(samples(q), samples(h));
}

TEST(BitmapTransforms, MandelbrotDrawsANormalisedGreyPicture)
{
    kfx::CBitmapHelper h("h");
    loadGrey(h, 48, 32, [](int, int) { return 0; });
    h.generateMandelbrot(0.0);
    EXPECT_TRUE(h.isModified());
    EXPECT_TRUE(allBytesEqual(h));
    const auto s = samples(h);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), 0);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 255);
    kfx::CBitmapHelper t("t");
    loadGrey(t, 48, 32, [](int, int) { return 0; });
    t.generateMandelbrot(0.1);
    EXPECT_TRUE(t.isModified());
}

TEST(BitmapTransforms, MandelbrotRefusesPicturesItCanNeverFill)
{
    kfx::CBitmapHelper invalid("i");
    invalid.generateMandelbrot(0.0);
    EXPECT_FALSE(invalid.isModified());
    kfx::CBitmapHelper small("s");
    loadGrey(small, 5, 2, [](int x, int) { return x; });  // 10 pixels
    small.generateMandelbrot(0.0);
    EXPECT_FALSE(small.isModified());
    EXPECT_EQ(samples(small), (std::vector<int>{0, 1, 2, 3, 4, 0, 1, 2, 3, 4}));
    kfx::CBitmapHelper four("f");
    loadBytes(four, makeBmp(8, 8, 4, std::vector<std::uint8_t>(32, 0x12),
                            std::vector<std::uint8_t>(64, 0)));
    four.generateMandelbrot(0.0);
    EXPECT_FALSE(four.isModified());
    EXPECT_EQ(four.getBitsPerPixel(), 4);
    // An 11-pixel strip almost never shows 11 changes (no success in 60000 tried
    // attempts): the bounded attempts end and the old pixels come back. Should a rare
    // attempt succeed, the picture is a normalised grey one instead.
    kfx::CBitmapHelper strip("strip");
    loadGrey(strip, 11, 1, [](int x, int) { return 3 * x; });
    strip.generateMandelbrot(0.0);
    if (!strip.isModified()) {
        EXPECT_EQ(samples(strip), (std::vector<int>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
    }
    else {
        const auto s = samples(strip);
        EXPECT_EQ(*std::max_element(s.begin(), s.end()), 255);
    }
}

TEST(BitmapTransforms, ModifiedFlagRulesOnAnInvalidHolder)
{
    auto flagAfter = [](void (*op)(kfx::CBitmapHelper&)) {
        kfx::CBitmapHelper h("h");
        op(h);
        return h.isModified();
    };
    EXPECT_TRUE(flagAfter([](kfx::CBitmapHelper& h) { h.rotateClockwise(1); }));
    EXPECT_TRUE(flagAfter([](kfx::CBitmapHelper& h) { h.flip(true); }));
    EXPECT_TRUE(flagAfter([](kfx::CBitmapHelper& h) { h.generateRandom(1.0); }));
    EXPECT_TRUE(flagAfter([](kfx::CBitmapHelper& h) { h.convertTo24Bit(); }));
    EXPECT_FALSE(flagAfter([](kfx::CBitmapHelper& h) { h.normalize(true); }));
    EXPECT_FALSE(flagAfter([](kfx::CBitmapHelper& h) { h.differences(false); }));
    EXPECT_FALSE(flagAfter([](kfx::CBitmapHelper& h) { h.invert(); }));
    EXPECT_FALSE(flagAfter([](kfx::CBitmapHelper& h) { h.generateMandelbrot(0.0); }));
    kfx::CBitmapHelper h("h");
    h.rotateClockwise(1);
    h.flip(false);
    EXPECT_FALSE(h.isValid());
}
