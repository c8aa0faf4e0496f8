// The built-in filter maps compiled into the library: sizes, depths, and that they make
// usable filter maps (values over the whole range, columns that differ).
#include "filtermap/BitmapHelper.h"
#include "resources/BuiltInResources.h"

#include "TestBmp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace skvtest;

namespace {

struct CExpected {
    int number, width, height, bits;
    const char* file;
};

const CExpected kPictures[] = {
    {10000, 560, 281, 24, "10000-fractal-mayhem.bmp"},
    {10001, 1034, 689, 8, "10001-digital-interference.bmp"},
    {10002, 787, 390, 4, "10002-title-screen.bmp"},
};

}  // namespace

TEST(BuiltInPictures, ResourcesHaveTheirSizesAndDepths)
{
    for (const auto& e : kPictures) {
        SCOPED_TRACE(e.number);
        kfx::CBitmapHelper h("h");
        h.loadFromResource(&skv::CBuiltInResources::instance(), e.number);
        ASSERT_TRUE(h.isValid());
        EXPECT_EQ(h.getWidth(), e.width);
        EXPECT_EQ(h.getHeight(), e.height);
        EXPECT_EQ(h.getBitsPerPixel(), e.bits);
        // The embedded resource is the committed file, byte for byte.
        kfx::CBitmapHelper f("f");
        f.loadFromFile(std::string(SKV_SOURCE_DIR) + "/resources/" + e.file);
        EXPECT_EQ(*f.getPixelBlock(), *h.getPixelBlock());
        EXPECT_EQ(*f.getHeaderBlock(), *h.getHeaderBlock());
    }
    kfx::CBitmapHelper none("n");
    none.loadFromResource(&skv::CBuiltInResources::instance(), 10003);
    EXPECT_FALSE(none.isValid());
}

TEST(BuiltInPictures, TitleScreenHasEightColoursAndValuesFromTheirRed)
{
    kfx::CBitmapHelper h("h");
    h.loadFromResource(&skv::CBuiltInResources::instance(), 10002);
    ASSERT_TRUE(h.isValid());
    const auto& header = *h.getHeaderBlock();
    std::set<int> used;
    std::vector<float> v(787u * 390u);
    h.getValues(v.data(), unsigned(v.size()));
    for (int x = 0; x < 787; x += 7)
        for (int y = 0; y < 390; y += 3) {
            const int index = h.sampleAt(x, y);
            used.insert(index);
            const int red = header[40 + 4 * std::size_t(index) + 2];
            ASSERT_EQ(v[std::size_t(x) * 390 + std::size_t(y)], expectedValue(red));
            ASSERT_NE(red, index);
        }
    EXPECT_EQ(used.size(), 8u);
    EXPECT_LT(*used.rbegin(), 8);
}

TEST(BuiltInPictures, EachMakesAGoodFilterMap)
{
    for (const auto& e : kPictures) {
        SCOPED_TRACE(e.number);
        kfx::CBitmapHelper h("h");
        h.loadFromResource(&skv::CBuiltInResources::instance(), e.number);
        const std::size_t w = std::size_t(e.width), ht = std::size_t(e.height);
        std::vector<float> v(w * ht);
        h.getValues(v.data(), unsigned(v.size()));
        double sum = 0.0, sq = 0.0;
        float lo = 2.0f, hi = -2.0f;
        for (float f : v) {
            sum += f;
            sq += double(f) * f;
            lo = std::min(lo, f);
            hi = std::max(hi, f);
        }
        const double mean = sum / double(v.size());
        EXPECT_LT(lo, -0.9f);
        EXPECT_GT(hi, 0.9f);
        EXPECT_GT(std::sqrt(sq / double(v.size()) - mean * mean), 0.25);
        EXPECT_LT(std::fabs(mean), 0.5);
        // Neighbouring columns of 80 values (what the filter takes) differ clearly.
        double change = 0.0;
        std::set<std::vector<float>> distinct;
        for (std::size_t x = 0; x + 1 < w; ++x) {
            double d = 0.0;
            for (std::size_t y = 0; y < 80; ++y)
                d += std::fabs(v[(x + 1) * ht + y] - v[x * ht + y]);
            change += d / 80.0;
            distinct.insert(std::vector<float>(v.begin() + std::ptrdiff_t(x * ht),
                                               v.begin() + std::ptrdiff_t(x * ht + 80)));
        }
        EXPECT_GT(change / double(w - 1), 0.01);
        EXPECT_GT(distinct.size(), (w - 1) * 9 / 10);
    }
}
