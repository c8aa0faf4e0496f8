// Reading the host's time information: valid flags, fallbacks, samples per beat.
#include "plugin/HostCallbacks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using skv::HostTime;
using skv::readHostTime;

TEST(FoundationTimeInfo, NullAnswerKeepsTheDefaults)
{
    HostTime time = readHostTime(nullptr);
    EXPECT_EQ(time.tempo, 120.0);
    EXPECT_EQ(time.songPosition, 0.0);
    EXPECT_EQ(time.barStart, 0.0);
    EXPECT_EQ(time.timeSigNumerator, 4);
    EXPECT_EQ(time.timeSigDenominator, 4);
}

TEST(FoundationTimeInfo, OnlyFlaggedFieldsAreRead)
{
    VstTimeInfo info{};
    info.tempo = 90.0;
    info.ppqPos = 3.5;
    info.barStartPos = 2.0;
    info.timeSigNumerator = 7;
    info.timeSigDenominator = 8;
    info.flags = 0;
    HostTime none = readHostTime(&info);
    EXPECT_EQ(none.tempo, 120.0);
    EXPECT_EQ(none.songPosition, 0.0);
    EXPECT_EQ(none.timeSigNumerator, 4);

    info.flags = 0x400;
    EXPECT_EQ(readHostTime(&info).tempo, 90.0);
    EXPECT_EQ(readHostTime(&info).songPosition, 0.0);
    info.flags = 0x200 | 0x800;
    HostTime positions = readHostTime(&info);
    EXPECT_EQ(positions.tempo, 120.0);
    EXPECT_EQ(positions.songPosition, 3.5);
    EXPECT_EQ(positions.barStart, 2.0);
    info.flags = 0x2000;
    HostTime signature = readHostTime(&info);
    EXPECT_EQ(signature.timeSigNumerator, 7);
    EXPECT_EQ(signature.timeSigDenominator, 8);
}

TEST(FoundationTimeInfo, BadAnswersFallBack)
{
    VstTimeInfo info{};
    info.flags = 0x400 | 0x200 | 0x800 | 0x2000;
    for (double tempo : {0.0, -60.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        info.tempo = tempo;
        EXPECT_EQ(readHostTime(&info).tempo, 120.0) << tempo;
    }
    info.ppqPos = std::nan("");
    info.barStartPos = -std::numeric_limits<double>::infinity();
    info.timeSigNumerator = 0;
    info.timeSigDenominator = -2;
    HostTime time = readHostTime(&info);
    EXPECT_EQ(time.songPosition, 0.0);
    EXPECT_EQ(time.barStart, 0.0);
    EXPECT_EQ(time.timeSigNumerator, 4);
    EXPECT_EQ(time.timeSigDenominator, 4);
    info.timeSigNumerator = 3;  // each part falls back on its own
    EXPECT_EQ(readHostTime(&info).timeSigNumerator, 3);
    EXPECT_EQ(readHostTime(&info).timeSigDenominator, 4);
}

TEST(FoundationTimeInfo, SamplesPerBeatRoundsHalvesToEven)
{
    EXPECT_EQ(skv::samplesPerBeat(44100.0, 120.0), 22050.0);
    EXPECT_EQ(skv::samplesPerBeat(48000.0, 140.0), 20571.0);  // 20571.43
    // 44100 / (x / 60) = 22050.5 and 22051.5 at these tempos.
    EXPECT_EQ(skv::samplesPerBeat(44100.0, 44100.0 * 60.0 / 22050.5), 22050.0);
    EXPECT_EQ(skv::samplesPerBeat(44100.0, 44100.0 * 60.0 / 22051.5), 22052.0);
    EXPECT_EQ(skv::samplesPerBeat(2.0, 60.0 * 4.0), 1.0);  // 0.5 would round to 0: at least 1
    EXPECT_EQ(skv::samplesPerBeat(1.0, 1e9), 1.0);
    // A tempo so close to 0 that the beat overflows: held at the largest finite length.
    EXPECT_EQ(skv::samplesPerBeat(44100.0, 1e-305), std::numeric_limits<double>::max());
}

TEST(FoundationTimeInfo, UnusableSampleRateCountsAs44100)
{
    EXPECT_EQ(skv::samplesPerBeat(0.0, 120.0), 22050.0);
    EXPECT_EQ(skv::samplesPerBeat(-48000.0, 120.0), 22050.0);
    EXPECT_EQ(skv::samplesPerBeat(std::nan(""), 120.0), 22050.0);
    EXPECT_EQ(skv::samplesPerBeat(44100.0, 0.0), 22050.0);
}
