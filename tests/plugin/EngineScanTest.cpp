// The scan step's column source for a filter map without a valid picture: the same column
// for the same step counter on every run, in every instance, independent of the map's name.
#include <gtest/gtest.h>

#include <cstdint>

#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/Skorvaline.h"

TEST(EngineScan, InvalidMapGivesTheSeededColumnOfTheStepCounter) {
    fxSkorvaline a(nullptr), b(nullptr);
    kfx::CBitmapArrayAnalyser left("L"), right("R");
    ASSERT_FALSE(left.isValid());
    float c1[100], c2[100], c3[100];
    for (int step : {0, 7, 123456}) {
        SCOPED_TRACE(step);
        a.scanFilterMap(c1, step, 80, &left);
        b.scanFilterMap(c2, step, 80, &right);
        for (int i = 0; i < 80; ++i) ASSERT_EQ(c1[i], c2[i]) << i;
        // First value from the generator written out here: state = state * 214013 + 2531011.
        std::uint32_t state = static_cast<std::uint32_t>(step);
        double v = 0.9;
        for (int k = 0; k < 3; ++k) {
            state = state * 214013u + 2531011u;
            v *= ((state >> 16) & 0x7FFF) % 10000 * 0.0002 - 1.0;
        }
        EXPECT_FLOAT_EQ(c1[0], static_cast<float>(v));
    }
    a.scanFilterMap(c3, 8, 80, &left);
    a.scanFilterMap(c1, 7, 80, &left);
    int differ = 0;
    for (int i = 0; i < 80; ++i) differ += c1[i] != c3[i];
    EXPECT_GT(differ, 70);

    // A count beyond the column's capacity is held to it; the guard value past it survives.
    float wide[101];
    wide[100] = 42.0f;
    a.scanFilterMap(wide, 3, 1000, &left);
    EXPECT_EQ(wide[100], 42.0f);
    // No map at all behaves as an invalid one.
    a.scanFilterMap(c2, 7, 80, nullptr);
    for (int i = 0; i < 80; ++i) ASSERT_EQ(c1[i], c2[i]);
}
