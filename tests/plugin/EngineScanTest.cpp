// scanFilterMap on its own: for a filter map without a valid picture the same seeded column for
// the same step counter on every run, in every instance, independent of the map's name; for a
// picture, one column further through the loop window (wrapping, and holding or reversing for
// degenerate windows), the Index parameter of the map's channel, and the conditioning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "EngineProbe.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/Skorvaline.h"
#include "resources/BuiltInResources.h"

TEST(EngineScan, InvalidMapGivesTheSeededColumnOfTheStepCounter)
{
    fxSkorvaline a(nullptr), b(nullptr);
    kfx::CBitmapArrayAnalyser left("L"), right("R");
    ASSERT_FALSE(left.isValid());
    float c1[100], c2[100], c3[100];
    for (int step : {0, 7, 123456}) {
        SCOPED_TRACE(step);
        a.scanFilterMap(c1, step, 80, &left);
        b.scanFilterMap(c2, step, 80, &right);
        const auto expected = enginetest::seededColumn(static_cast<unsigned>(step), 80);
        for (int i = 0; i < 80; ++i) {
            ASSERT_EQ(c1[i], c2[i]) << i;
            ASSERT_FLOAT_EQ(c1[i], expected[i]) << i;
        }
    }
    a.scanFilterMap(c3, 8, 80, &left);
    a.scanFilterMap(c1, 7, 80, &left);
    int differ = 0;
    for (int i = 0; i < 80; ++i)
        differ += c1[i] != c3[i];
    EXPECT_GT(differ, 70);

    // A count beyond the column's capacity is held to it; the guard value past it survives.
    float wide[101];
    wide[100] = 42.0f;
    a.scanFilterMap(wide, 3, 1000, &left);
    EXPECT_EQ(wide[100], 42.0f);
    // No map at all behaves as an invalid one.
    a.scanFilterMap(c2, 7, 80, nullptr);
    for (int i = 0; i < 80; ++i)
        ASSERT_EQ(c1[i], c2[i]);
}

namespace {

// A filter map holding built-in picture 10001 with the given scan window.
std::unique_ptr<kfx::CBitmapArrayAnalyser> pictureMap(const char* name, float start, float stop,
                                                      float index)
{
    auto map = std::make_unique<kfx::CBitmapArrayAnalyser>(name);
    map->loadFromResource(&skv::CBuiltInResources::instance(), 10001);
    map->setLoopStart(start);
    map->setLoopStop(stop);
    map->setScanIndex(index);
    map->setVerticalOffset(0.0f);
    return map;
}

}  // namespace

// Records what the engine reports having moved by itself (what an editor would hear).
class CMoveRecorder : public fxSkorvaline {
public:
    CMoveRecorder() : fxSkorvaline(nullptr) {}
    void engineMovedParameter(VstInt32 index, float value) override
    {
        lastIndex = index;
        lastValue = value;
    }
    VstInt32 lastIndex = -1;
    float lastValue = -1.0f;
};

TEST(EngineScan, ValidMapStepsThroughItsLoopAndReportsTheIndex)
{
    CMoveRecorder fx;
    auto map = pictureMap("L", 0.25f, 0.75f, 0.5f);
    ASSERT_TRUE(map->isValid());
    const float width = static_cast<float>(map->getWidth());
    float column[100];
    fx.scanFilterMap(column, 0, 80, map.get());
    // One column further: 1 / (loop length in columns).
    const float expected = 0.5f + 1.0f / ((0.75f - 0.25f) * width);
    EXPECT_FLOAT_EQ(map->getScanIndex(), expected);
    EXPECT_EQ(fx.lastIndex, 30);  // "L" reports through the left Index
    EXPECT_FLOAT_EQ(fx.lastValue, expected);
    auto right = pictureMap("R", 0.25f, 0.75f, 0.3f);
    fx.scanFilterMap(column, 0, 80, right.get());
    EXPECT_EQ(fx.lastIndex, 35);
    EXPECT_FLOAT_EQ(fx.lastValue, right->getScanIndex());

    // Past the end the index wraps by one.
    map->setScanIndex(0.999999f);
    fx.scanFilterMap(column, 0, 80, map.get());
    EXPECT_NEAR(map->getScanIndex(), 0.999999f + 1.0f / (0.5f * width) - 1.0f, 1e-5);
}

TEST(EngineScan, DegenerateLoopWindowsKeepTheIndexFinite)
{
    fxSkorvaline fx(nullptr);
    float column[100];
    // An empty window holds the index where it is (1 / 0 would push it to infinity).
    auto empty = pictureMap("L", 0.4f, 0.4f, 0.5f);
    fx.scanFilterMap(column, 0, 80, empty.get());
    EXPECT_EQ(empty->getScanIndex(), 0.5f);
    // A reversed window scans backwards and wraps at 0.
    auto reversed = pictureMap("L", 0.6f, 0.4f, 0.0001f);
    const float width = static_cast<float>(reversed->getWidth());
    fx.scanFilterMap(column, 0, 80, reversed.get());
    EXPECT_NEAR(reversed->getScanIndex(), 0.0001f - 1.0f / (0.2f * width) + 1.0f, 1e-5);
    for (int i = 0; i < 80; ++i)
        ASSERT_TRUE(std::isfinite(column[i]));
}

TEST(EngineScan, ColumnsAreConditionedOnlyBelowHalfAnalysis)
{
    fxSkorvaline fx(nullptr);
    const int order = 18;  // program 0
    for (float analysis : {0.0f, 0.49f, 0.5f, 0.9f}) {
        SCOPED_TRACE(analysis);
        auto map = pictureMap("L", 0.1f, 0.9f, 0.3f);
        map->setAnalysis(analysis);
        float column[100], raw[100];
        fx.scanFilterMap(column, 0, 80, map.get());
        map->getColumn(raw, 80, -1.0f);  // the column at the index the step moved to
        if (analysis < 0.5f) {
            // Conditioned head: largest magnitude replaced by the marker, every value inside
            // (-1, 1), values past the order untouched unless out of range.
            float largest = 0.0f;
            for (int i = 0; i < order; ++i) {
                EXPECT_LT(std::fabs(column[i]), 1.0f);
                largest = std::max(largest, std::fabs(column[i]));
            }
            EXPECT_GT(largest, 0.2f);
            for (int i = order; i < 80; ++i) {
                if (std::fabs(raw[i]) < 1.0f && std::fabs(raw[i]) > 1e-15f) {
                    EXPECT_EQ(column[i], raw[i]) << i;
                }
            }
        }
        else {
            for (int i = 0; i < 80; ++i)
                ASSERT_EQ(column[i], raw[i]) << i;
        }
    }
}
