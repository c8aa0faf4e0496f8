// The time record the engine's tempo poll reads, made from LV2 time positions: beats in the
// signature's unit become quarter notes, bars counted from 0 give the bar start, and a rolling
// transport moves the position on between the positions the host sends.
#include <gtest/gtest.h>

#include "lv2/HostTransport.h"

using skv::lv2::CHostTransport;
using skv::lv2::TimePosition;

namespace {

TimePosition position(double bpm, double beatsPerBar, double beatUnit, std::int64_t bar,
                      double barBeat, double speed)
{
    TimePosition p;
    p.beatsPerMinute = bpm;
    p.beatsPerBar = beatsPerBar;
    p.beatUnit = beatUnit;
    p.bar = bar;
    p.barBeat = barBeat;
    p.speed = speed;
    return p;
}

}  // namespace

TEST(HostTransport, NoPositionYetGivesNoRecord)
{
    CHostTransport transport;
    transport.advance(512, 44100.0);
    EXPECT_EQ(transport.timeInfo(), nullptr);
}

TEST(HostTransport, BarAndBeatBecomeQuarterNotes)
{
    CHostTransport transport;
    // Bar 2 (the third) of 6/8, fourth eighth: 2 * 6 + 3 = 15 eighths = 7.5 quarters.
    transport.apply(position(90.0, 6.0, 8.0, 2, 3.0, 0.0));
    const VstTimeInfo* info = transport.timeInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_DOUBLE_EQ(info->ppqPos, 7.5);
    EXPECT_DOUBLE_EQ(info->barStartPos, 6.0);
    EXPECT_EQ(info->timeSigNumerator, 6);
    EXPECT_EQ(info->timeSigDenominator, 8);
}

TEST(HostTransport, RollingTransportMovesThePositionAndTheBarStart)
{
    CHostTransport transport;
    transport.apply(position(120.0, 4.0, 4.0, 0, 3.5, 1.0));
    // One second at 120 BPM is two quarters: from 3.5 into the second bar.
    transport.advance(44100, 44100.0);
    const VstTimeInfo* info = transport.timeInfo();
    EXPECT_DOUBLE_EQ(info->ppqPos, 5.5);
    EXPECT_DOUBLE_EQ(info->barStartPos, 4.0);
    EXPECT_TRUE(info->flags & kVstTransportPlaying);
}

TEST(HostTransport, StoppedTransportKeepsThePositionAndNonsenseIsIgnored)
{
    CHostTransport transport;
    transport.apply(position(120.0, 4.0, 4.0, 1, 1.0, 0.0));
    TimePosition nonsense = position(-5.0, 0.0, 0.0, 1, 1.0, 0.0);
    transport.apply(nonsense);
    transport.advance(44100, 44100.0);
    const VstTimeInfo* info = transport.timeInfo();
    EXPECT_DOUBLE_EQ(info->ppqPos, 5.0);
    EXPECT_DOUBLE_EQ(info->tempo, 120.0);
    EXPECT_EQ(info->timeSigNumerator, 4);
    EXPECT_FALSE(info->flags & kVstTransportPlaying);
}
