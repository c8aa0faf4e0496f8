// The parameter table's data and pure rules, with golden values worked out by hand from the
// formulas (delay grid, compressor times, rounding).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "dsp/DspMath.h"
#include "plugin/ParameterTable.h"
#include "plugin/ScanColumn.h"

using namespace skv;

namespace {

std::string fixed(double v, int d)
{
    char t[kDisplayMaxChars + 1];
    formatFixed(v, d, t);
    return t;
}
std::string decibel(float g)
{
    char t[kDisplayMaxChars + 1];
    formatDecibel(g, t);
    return t;
}
std::string integer(int v)
{
    char t[kDisplayMaxChars + 1];
    formatInteger(v, t);
    return t;
}
std::string decay(float c)
{
    char t[kDisplayMaxChars + 1];
    formatDecay(c, t);
    return t;
}

}  // namespace

TEST(ParameterTable, NamesLabelsAndDefaults)
{
    EXPECT_EQ(kNumParams, 53);
    EXPECT_STREQ(parameterName(0), "L PrDel");
    EXPECT_STREQ(parameterName(10), "L Warp  ");
    EXPECT_STREQ(parameterName(11), "R Warp  ");
    EXPECT_STREQ(parameterName(50), "Env. Follow Dcy");
    EXPECT_STREQ(parameterName(52), "R Analysis Warp");
    EXPECT_STREQ(parameterName(53), "-unspecified-");
    EXPECT_STREQ(parameterName(54), "-unspecified-");
    EXPECT_STREQ(parameterName(-1), "-unspecified-");

    // Every name is distinct, so stored presets can key on it.
    for (int i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(parameterIndexOf(parameterName(i)), i) << i;
    }
    EXPECT_EQ(parameterIndexOf("L Warp"), -1);  // the trailing spaces are part of the key
    EXPECT_EQ(parameterIndexOf(nullptr), -1);

    EXPECT_STREQ(parameterLabel(0), "seconds");
    EXPECT_STREQ(parameterLabel(12), " ");
    EXPECT_STREQ(parameterLabel(40), "taps");
    EXPECT_STREQ(parameterLabel(43), "D-W");
    EXPECT_STREQ(parameterLabel(44), "dB");
    EXPECT_EQ(parameterLabel(4), nullptr);
    EXPECT_EQ(parameterLabel(16), nullptr);
    EXPECT_EQ(parameterLabel(53), nullptr);

    EXPECT_EQ(parameterDefault(2), 0.055f);
    EXPECT_EQ(parameterDefault(3), 0.205f);
    EXPECT_EQ(parameterDefault(7), 0.78f);
    EXPECT_EQ(parameterDefault(40), 0.2f);
    EXPECT_EQ(parameterDefault(44), 1.0f);
    EXPECT_EQ(parameterDefault(49), 0.6f);
    EXPECT_EQ(parameterDefault(50), 0.74f);
    EXPECT_EQ(parameterDefault(26), 0.0f);
    EXPECT_EQ(parameterDefault(99), 0.0f);
}

TEST(ParameterTable, RoundingIsHalfToEven)
{
    EXPECT_EQ(roundHalfEven(0.5), 0.0);
    EXPECT_EQ(roundHalfEven(1.5), 2.0);
    EXPECT_EQ(roundHalfEven(2.5), 2.0);
    EXPECT_EQ(roundHalfEven(2.5000001), 3.0);
    EXPECT_EQ(roundHalfEven(-1.5), -2.0);
    EXPECT_EQ(roundHalfEven(-2.5), -2.0);
    EXPECT_EQ(roundHalfEven(7.49), 7.0);
}

TEST(ParameterTable, FilterOrderAndBands)
{
    EXPECT_EQ(filterOrderFromNormalised(0.0f), 2);
    EXPECT_EQ(filterOrderFromNormalised(1.0f), 80);
    EXPECT_EQ(filterOrderFromNormalised(0.5f), 41);
    EXPECT_EQ(filterOrderFromNormalised(0.25f), 22);  // 21.5 -> 22
    EXPECT_EQ(filterOrderFromNormalised(0.75f), 60);  // 60.5 -> 60
    EXPECT_EQ(filterOrderFromNormalised(0.2f), 18);   // 17.6
    EXPECT_EQ(bandCountForOrder(2), 2);
    EXPECT_EQ(bandCountForOrder(11), 2);
    EXPECT_EQ(bandCountForOrder(12), 3);
    EXPECT_EQ(bandCountForOrder(41), 10);
    EXPECT_EQ(bandCountForOrder(80), 20);
}

TEST(ParameterTable, SyncValuesSelectUnitsPerBeat)
{
    EXPECT_EQ(syncUnitsPerBeat(0.0f), 0.0);
    EXPECT_EQ(syncUnitsPerBeat(0.1666666f), 0.0);
    EXPECT_EQ(syncUnitsPerBeat(0.16666667f), 16.0);  // k = 1
    EXPECT_EQ(syncUnitsPerBeat(0.25f), 8.0);         // 1.5 -> 2
    EXPECT_EQ(syncUnitsPerBeat(0.3f), 8.0);
    EXPECT_EQ(syncUnitsPerBeat(0.5f), 4.0);
    EXPECT_EQ(syncUnitsPerBeat(0.6f), 2.0);
    EXPECT_EQ(syncUnitsPerBeat(0.8f), 1.0);
    EXPECT_EQ(syncUnitsPerBeat(11.0f / 12.0f), 0.5);  // 5.5 -> 6: one unit per two beats
    EXPECT_EQ(syncUnitsPerBeat(1.0f), 0.5);
    EXPECT_EQ(syncUnitsPerBeat(std::numeric_limits<float>::quiet_NaN()), 0.0);
}

TEST(ParameterTable, DelayTimeFreeMode)
{
    DelayTime d = computeDelayTime(0.5f, 0.1f, 2, 22050.0);
    EXPECT_FALSE(d.synced);
    EXPECT_EQ(d.length, 88198.0f);
    EXPECT_EQ(d.normalised, 0.5f);
    // Below order + 1 samples the line is off.
    EXPECT_EQ(computeDelayTime(2.9f / 176400.0f, 0.0f, 2, 22050.0).length, 0.0f);
    EXPECT_EQ(computeDelayTime(0.0f, 0.0f, 2, 22050.0).length, 0.0f);
    EXPECT_NEAR(computeDelayTime(3.5f / 176400.0f, 0.0f, 2, 22050.0).length, 1.5f, 1e-4);
    EXPECT_EQ(computeDelayTime(1.0f, 0.0f, 80, 22050.0).length, 176320.0f);
}

TEST(ParameterTable, DelayTimeSyncedSnapsToTheGrid)
{
    // Eighths at 120 BPM: 32 units of a 2756.25-sample eighth.
    DelayTime d = computeDelayTime(0.5f, 0.3f, 2, 22050.0);
    EXPECT_TRUE(d.synced);
    EXPECT_EQ(d.units, 32);
    EXPECT_DOUBLE_EQ(d.beats, 4.0);
    EXPECT_EQ(d.length, 88198.0f);
    EXPECT_EQ(d.normalised, 0.5f);

    // Quarters: 0.3 * 4 s = 9.6 beats rounds up to 10 quarter notes = 2.5 s.
    d = computeDelayTime(0.3f, 0.5f, 2, 22050.0);
    EXPECT_EQ(d.units, 10);
    EXPECT_EQ(d.length, 55123.0f);
    EXPECT_FLOAT_EQ(d.normalised, 0.3125f);

    // The ceiling: 64 eighths of 22051 samples exceed four seconds; the snapped value stays 1.
    d = computeDelayTime(1.0f, 0.3f, 2, 22051.0);
    EXPECT_EQ(d.length, 176399.0f);
    EXPECT_EQ(d.normalised, 1.0f);

    // Zero stays zero; a degenerate beat length does not divide by zero.
    d = computeDelayTime(0.0f, 0.3f, 12, 22050.0);
    EXPECT_EQ(d.length, 0.0f);
    EXPECT_EQ(d.normalised, 0.0f);
    d = computeDelayTime(0.5f, 0.3f, 2, 0.0);
    EXPECT_TRUE(std::isfinite(d.length));
    EXPECT_LE(d.length, 176399.0f);

    // A tempo near 0 makes the beat infinitely long: one unit already exceeds the ceiling, and
    // zero units must not become 0 * infinity.
    const double endless = std::numeric_limits<double>::infinity();
    d = computeDelayTime(0.5f, 0.3f, 2, endless);
    EXPECT_EQ(d.units, 1);
    EXPECT_EQ(d.length, 176399.0f);
    EXPECT_EQ(d.normalised, 1.0f);
    d = computeDelayTime(0.0f, 0.3f, 2, endless);
    EXPECT_EQ(d.units, 0);
    EXPECT_EQ(d.length, 0.0f);
    EXPECT_EQ(d.normalised, 0.0f);

    // Two-beat units from 11/12 up: 0.5 * 4 s = 4 beats = 2 units.
    d = computeDelayTime(0.5f, 1.0f, 2, 22050.0);
    EXPECT_EQ(d.units, 2);
    EXPECT_DOUBLE_EQ(d.beats, 4.0);
    EXPECT_EQ(d.length, 88198.0f);
}

TEST(ParameterTable, StepTime)
{
    StepTime s = computeStepTime(0.21f, 0.0f, 22050.0);
    EXPECT_FALSE(s.synced);
    EXPECT_NEAR(s.length, 0.21 * 176400.0, 0.01);
    EXPECT_EQ(computeStepTime(0.0f, 0.0f, 22050.0).length, 32.0);
    EXPECT_EQ(computeStepTime(1e-6f, 0.0f, 22050.0).length, 32.0);

    // Quarters: 0.21 * 4 s = 6.72 beats -> 7 units of 22050 / 4 samples; no order, no snap.
    s = computeStepTime(0.21f, 0.5f, 22050.0);
    EXPECT_TRUE(s.synced);
    EXPECT_EQ(s.units, 7);
    EXPECT_EQ(s.unitsPerBeat, 4.0);
    EXPECT_DOUBLE_EQ(s.length, 38587.5);
    // No ceiling: a whole 16th-note grid beyond four seconds is kept.
    s = computeStepTime(1.0f, 0.2f, 22051.0);
    EXPECT_EQ(s.units, 128);
    EXPECT_DOUBLE_EQ(s.length, 128.0 / 16.0 * 22051.0);
    // Short synced steps are raised to 32 samples.
    EXPECT_EQ(computeStepTime(1e-5f, 0.2f, 100.0).length, 32.0);
    // An infinitely long beat: no step at all rather than a NaN length.
    const double endless = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(std::isnan(computeStepTime(0.5f, 0.3f, endless).length));
    EXPECT_EQ(computeStepTime(0.0f, 0.3f, endless).length, 32.0);
}

TEST(ParameterTable, CompressorTimes)
{
    EXPECT_NEAR(compressorRateMs(0.0f), 0.1, 1e-12);
    EXPECT_NEAR(compressorRateMs(0.5f), 10.0, 1e-9);
    EXPECT_NEAR(compressorRateMs(1.0f), 1000.0, 1e-9);
    // The level falls to a quarter after 44.1 * T samples.
    const float c0 = compressorRateCoefficient(0.0f);
    EXPECT_NEAR(std::pow(double(c0), 4.41), 0.25, 1e-5);
    const float c5 = compressorRateCoefficient(0.5f);
    EXPECT_NEAR(std::pow(double(c5), 441.0), 0.25, 1e-4);
    // Decay 0 is half the rate time, decay 1 twenty times it.
    EXPECT_NEAR(std::pow(double(compressorDecayCoefficient(0.5f, 0.0f)), 220.5), 0.25, 1e-4);
    EXPECT_NEAR(std::pow(double(compressorDecayCoefficient(0.5f, 1.0f)), 8820.0), 0.25, 2e-3);

    EXPECT_EQ(compressorRatio(0.25f), 0.5f);
    EXPECT_NEAR(compressorRatioFromCurve(compressorRatioCurve(0.1f)), 0.1f, 1e-6);
    EXPECT_NEAR(compressorRatioCurve(0.5f), 1.0 - std::exp(-1.0), 1e-6);
}

TEST(ParameterTable, SmallConversions)
{
    EXPECT_EQ(warpValue(1.0f), 0.99999f);
    EXPECT_EQ(warpValue(0.5f), 0.5f);
    EXPECT_EQ(envelopeCoefficient(1.0f), 1.0f);
    EXPECT_EQ(envelopeCoefficient(0.0f), 0.0f);
    EXPECT_NEAR(envelopeCoefficient(0.5f), 1.0 - std::exp(-7.0), 1e-6);
    EXPECT_NEAR(timeConstantSmoothing(0.65f), 1.0 - std::exp(-9.75), 1e-6);
    EXPECT_EQ(feedbackGain(0.5f), 0.0f);
    EXPECT_EQ(feedbackGain(1.0f), 1.0f);
    EXPECT_EQ(feedbackNormalised(-1.0f), 0.0f);
    EXPECT_NEAR(resonanceNormalised(resonanceValue(0.57f)), 0.57f, 1e-6);
    EXPECT_NEAR(fourthRoot(fourthPower(0.3f)), 0.3f, 1e-6);
    EXPECT_EQ(fourthRoot(0.0f), 0.0f);
    EXPECT_EQ(sanitizeNormalised(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(sanitizeNormalised(-0.5f), 0.0f);
    EXPECT_EQ(sanitizeNormalised(3.0f), 1.0f);
    EXPECT_EQ(sanitizeNormalised(0.25f), 0.25f);
}

TEST(ParameterTable, DisplayTexts)
{
    EXPECT_EQ(fixed(2.0, 3), "2.000");
    EXPECT_EQ(fixed(0.5, 2), "0.50");
    EXPECT_EQ(fixed(32.0, 0), "32");
    EXPECT_EQ(fixed(-0.25, 2), "-0.25");
    EXPECT_EQ(decibel(0.0f), "-oo");
    EXPECT_EQ(decibel(-1.0f), "-oo");
    EXPECT_EQ(decibel(1.0f), "0.00");
    EXPECT_EQ(decibel(0.0625f), "-24.08");  // 0.5^4
    EXPECT_EQ(integer(2), "      2");
    EXPECT_EQ(integer(80), "     80");
    EXPECT_EQ(integer(99999999), "99999999");
    EXPECT_EQ(integer(100000000), "Huge!");
    EXPECT_EQ(integer(-12345678), "-1234567");  // cut to eight characters
    EXPECT_EQ(decay(1.0f), "oo");
    EXPECT_EQ(decay(compressorRateCoefficient(0.0f)), "0.10");
    // Near 1 the single-precision coefficient carries the time only to a few tenths of a per
    // cent, so the longer times are compared as numbers.
    EXPECT_NEAR(std::atof(decay(compressorRateCoefficient(0.5f)).c_str()), 10.0, 0.02);
    EXPECT_NEAR(std::atof(decay(compressorRateCoefficient(1.0f)).c_str()), 1000.0, 3.0);
    EXPECT_EQ(decay(compressorRateCoefficient(1.0f)).find('.'), std::string::npos);
    EXPECT_EQ(decay(static_cast<float>(std::pow(0.25, 1.0 / (44.1 * 50.0)))), "50.0");
    EXPECT_EQ(decay(static_cast<float>(std::pow(0.25, 1.0 / (44.1 * 5.0)))), "5.00");
    EXPECT_EQ(decay(0.0f), "0.00");
}

TEST(ParameterTable, SeededColumnFollowsTheCRuntimeGenerator)
{
    // The C runtime's generator seeded with 1 starts 41, 18467, 6334, 26500, 19169, 15724.
    float column[2];
    fillSeededColumn(column, 2, 1);
    auto term = [](int r) { return r % 10000 * 0.0002 - 1.0; };
    EXPECT_FLOAT_EQ(column[0], static_cast<float>(0.9 * term(41) * term(18467) * term(6334)));
    EXPECT_FLOAT_EQ(column[1], static_cast<float>(0.9 * term(26500) * term(19169) * term(15724)));

    // Same seed, same column; another seed, another column; all inside (-0.9, 0.9).
    float a[80], b[80], c[80];
    fillSeededColumn(a, 80, 31);
    fillSeededColumn(b, 80, 31);
    fillSeededColumn(c, 80, 47);
    int differ = 0;
    for (int i = 0; i < 80; ++i) {
        EXPECT_EQ(a[i], b[i]);
        EXPECT_LE(std::fabs(a[i]), 0.9f);
        differ += a[i] != c[i];
    }
    EXPECT_GT(differ, 70);
}

TEST(ParameterTable, ColumnConditioning)
{
    float v[80] = {0.2f, 0.4f, 0.6f, 0.8f, 1.5f, 0.0f, 0.5f};
    conditionColumn(v, 4, 80);
    // Half the mean of 0.4, 0.6, 0.8 off the first four, then scaled by the largest (0.5).
    EXPECT_NEAR(v[0], -0.2f, 1e-6);
    EXPECT_NEAR(v[1], 0.2f, 1e-6);
    EXPECT_NEAR(v[2], 0.6f, 1e-6);
    // The largest became 1 and is replaced by the marker, as are 1.5 and 0 after it.
    EXPECT_EQ(v[3], 1e-15f);
    EXPECT_EQ(v[4], -1e-15f);
    EXPECT_EQ(v[5], 1e-15f);
    EXPECT_EQ(v[6], 0.5f);
    EXPECT_EQ(v[7], -1e-15f);
    EXPECT_EQ(v[8], 1e-15f);

    // An all-zero head divides by 1 and leaves only markers.
    float z[80] = {};
    conditionColumn(z, 80, 80);
    for (int i = 0; i < 80; ++i)
        EXPECT_EQ(z[i], (i % 2 == 0) ? 1e-15f : -1e-15f);
}
