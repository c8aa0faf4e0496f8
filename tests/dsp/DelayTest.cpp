// Delay line: ring sizes, exact integer delays, the Lagrange value at fractional delays
// (against Neville's scheme through the four neighbours), the rate-limited glide, backward
// playback in segments with cross-fades (against a model in signal time rather than ring
// positions), clear, and hostile delay requests.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/Delay.h"
#include "DspTestSupport.h"

namespace {

using skvtest::noise;
using Line = Delay<float>;

// Puts the line at delay d at once.
void snapTo(Line& line, float d)
{
    line.jumpTo(d);
}

// Writes a whole ring's worth of value(i) through the line (old contents for a test to follow).
template <typename F>
void fillRing(Line& line, F value)
{
    for (int i = 0; i < line.getLength(); ++i)
        line.processSample(value(i));
}

// Value at `age` samples back of the cubic through the samples aged a0 .. a0 + 3
// (Neville's scheme in double precision); history[t] is the input at time t.
double lagrangeAt(const std::vector<float>& history, int now, int a0, double age)
{
    double p[4];
    double nodes[4];
    for (int i = 0; i < 4; ++i) {
        nodes[i] = a0 + i;
        p[i] = history[static_cast<std::size_t>(now - (a0 + i))];
    }
    for (int level = 1; level < 4; ++level)
        for (int i = 0; i + level < 4; ++i)
            p[i] = ((age - nodes[i + level]) * p[i] + (nodes[i] - age) * p[i + 1]) /
                   (nodes[i] - nodes[i + level]);
    return p[0];
}

}  // namespace

TEST(Delay, RingIsTheNextPowerOfTwoAndSilent)
{
    struct Case {
        int requested, length;
    };
    for (Case c :
         {Case{176400, 262144}, Case{2048, 2048}, Case{2049, 4096}, Case{3, 4}, Case{1, 1}}) {
        Line line(c.requested);
        EXPECT_EQ(line.getLength(), c.length) << c.requested;
        for (int i = 0; i < line.getLength(); ++i)
            ASSERT_EQ(line.oldest(i), 0.0f) << i;
    }
    Line line(176400);
    EXPECT_EQ(line.getCurrentDelay(), 1000.0f);
    EXPECT_EQ(line.getGlideRate(), 0.0f);
    EXPECT_EQ(line.getLastOutput(), 0.0f);
    EXPECT_FALSE(line.isReverse());
}

TEST(Delay, OldestRunsFromTheNextSampleOverwrittenToTheNewest)
{
    Line line(8);
    for (int t = 0; t < 11; ++t)
        line.processSample(static_cast<float>(t));
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(line.oldest(k), static_cast<float>(3 + k)) << k;
}

TEST(Delay, IntegerDelaysReproduceTheInputExactly)
{
    const std::vector<float> x = noise(3000, 1);
    for (int d : {0, 1, 2, 3, 7, 100, 1000, 2500}) {
        Line line(4096);
        // Old contents everywhere: weights that should be 0 must be exactly 0.
        fillRing(line, [](int i) { return 1000.0f + static_cast<float>(i); });
        snapTo(line, static_cast<float>(d));
        for (int n = 0; n < 3000; ++n) {
            const float y = line.processSample(x[n]);
            if (n >= d) {
                ASSERT_EQ(y, x[n - d]) << "delay " << d << " sample " << n;
            }
            ASSERT_EQ(line.getLastOutput(), y);
        }
    }
}

TEST(Delay, GlidingToAnIntegerDelayEndsExact)
{
    const std::vector<float> x = noise(6000, 2);
    Line line(176400);
    line.setDelay(5.0f);  // from the starting 1000 samples
    for (int n = 0; n < 6000; ++n) {
        const float y = line.processSample(x[n]);
        if (n >= 3000) {
            ASSERT_EQ(y, x[n - 5]) << n;
        }
    }
    EXPECT_EQ(line.getCurrentDelay(), 5.0f);
    EXPECT_EQ(line.getGlideRate(), 0.0f);
}

TEST(Delay, FractionalDelaysGiveTheCubicThroughTheFourNeighbours)
{
    const std::vector<float> x = noise(2000, 3);
    for (float d : {10.5f, 3.25f, 100.9f, 1.5f, 61.5f}) {
        Line line(64);
        snapTo(line, d);
        const int n0 = static_cast<int>(std::ceil(d));
        for (int n = 0; n < 2000; ++n) {
            const float y = line.processSample(x[n]);
            if (n >= n0 + 1 && n0 + 1 < line.getLength()) {
                // Nodes aged n0 - 2 .. n0 + 1; the value lies d samples back.
                const double expected = lagrangeAt(x, n, n0 - 2, static_cast<double>(d));
                ASSERT_NEAR(y, expected, 2e-6) << "delay " << d << " sample " << n;
            }
        }
    }
    // d = 10.5 in particular: -1/16, 9/16, 9/16, -1/16 on the samples 9..12 old.
    Line line(64);
    snapTo(line, 10.5f);
    for (int n = 0; n < 40; ++n) {
        const float y = line.processSample(x[n]);
        if (n >= 12) {
            const double expected =
                (-x[n - 9] + 9.0 * x[n - 10] + 9.0 * x[n - 11] - x[n - 12]) / 16;
            ASSERT_NEAR(y, expected, 1e-6);
        }
    }
}

TEST(Delay, GlideMovesAtMostThreeQuartersOfASamplePerSampleAndArrives)
{
    struct Move {
        float from, to;
    };
    for (Move mv :
         {Move{0.0f, 1000.0f}, Move{1000.0f, 10.0f}, Move{20000.0f, 0.0f}, Move{37.25f, 40.0f}}) {
        SCOPED_TRACE(::testing::Message() << mv.from << " -> " << mv.to);
        Line line(176400);
        snapTo(line, mv.from);
        line.setDelay(mv.to);
        float previous = line.getCurrentDelay();
        const int steps = static_cast<int>(std::fabs(mv.to - mv.from) / 0.75f) + 400;
        double biggest = 0.0;
        for (int n = 0; n < steps; ++n) {
            // A ramp: the cubic reproduces it, so the output is the time d samples back.
            const float y = line.processSample(static_cast<float>(n));
            const double step = std::fabs(static_cast<double>(line.getCurrentDelay()) - previous);
            biggest = std::max(biggest, step);
            ASSERT_LE(step, 0.75 + 1e-6) << n;
            ASSERT_GE(line.getCurrentDelay(), 0.0f) << n;
            // Below one sample the newest tap lies ahead of the write position (old ring
            // contents): the ramp identity holds from one sample up.
            if (n > 1.2 * std::max(mv.from, mv.to) + 4 && line.getCurrentDelay() >= 1.0f) {
                ASSERT_NEAR(y, n - line.getCurrentDelay(), 2e-3 * (1.0 + n * 1e-3)) << n;
            }
            previous = line.getCurrentDelay();
        }
        if (std::fabs(mv.to - mv.from) > 10.0f) {
            EXPECT_EQ(biggest, 0.75);  // the long moves run at the clamp
            EXPECT_EQ(line.getCurrentDelay(), mv.to);
        }
        EXPECT_EQ(line.getGlideRate(), 0.0f);
    }
    // From 0 the first step is limited by the clamp alone (the ratio is (1000 + 1) / 1e-12).
    Line line(176400);
    snapTo(line, 0.0f);
    line.setDelay(1000.0f);
    line.processSample(0.0f);
    EXPECT_EQ(line.getCurrentDelay(), 0.75f);
    EXPECT_EQ(line.getGlideRate(), 0.75f);
}

TEST(Delay, GlideToZeroNeverOvershootsIntoTheOldestSamples)
{
    for (float from : {20000.0f, 1000.0f, 3.0f, 1.0f, 0.3f}) {
        SCOPED_TRACE(::testing::Message() << "from " << from);
        Line line(4096);
        fillRing(line, [](int) { return 1e6f; });  // stands for audio from long ago
        snapTo(line, from);
        line.setDelay(0.0f);
        const int steps = static_cast<int>(from / 0.75f) + 2000;
        for (int n = 0; n < steps; ++n) {
            const float y = line.processSample(0.5f);
            ASSERT_GE(line.getCurrentDelay(), 0.0f) << n;
            if (line.getCurrentDelay() == 0.0f) {
                ASSERT_EQ(y, 0.5f) << n;
            }
        }
        EXPECT_EQ(line.getCurrentDelay(), 0.0f);
        EXPECT_EQ(line.processSample(0.25f), 0.25f);
    }
}

TEST(Delay, ReversePlaysSegmentsBackwardsWithCrossFades)
{
    // Model in signal time. A segment of length L starts at T (the first at the setDelay,
    // of the rounded length; later ones of the rounded-up length). At T the head jumps to the
    // input written 2·100 samples earlier (the first segment starts at the newest sample),
    // then reads one sample further back per sample. 100 samples before the segment ends the
    // second head starts at the newest input and also runs backwards; the last 99 samples
    // cross-fade from the first head to the second with weight k/100, k = samples left.
    const int kFade = 100;
    auto x = [](int t) { return static_cast<float>(t + 10000); };
    for (float d : {1000.0f, 1000.4f, 250.5f, 101.0f}) {
        SCOPED_TRACE(::testing::Message() << "delay " << d);
        Line line(176400);
        snapTo(line, d);
        for (int t = -5000; t < 0; ++t)
            line.processSample(x(t));
        line.setReverse(1.0f);
        line.setDelay(d);
        const int first = static_cast<int>(std::nearbyint(d));  // halves to even
        const int period = static_cast<int>(std::ceil(d));
        EXPECT_EQ(line.getReverseCounter(), first);
        EXPECT_EQ(line.getReversePeriod(), period);

        int start = 0, length = first, segment = 0;
        for (int t = 0; t < 4000; ++t) {
            if (t == start + length) {
                start += length;
                length = period;
                ++segment;
            }
            const int s = t - start;
            const int head = segment == 0 ? -s : start - 2 * kFade - s;
            float expected;
            if (s < length - kFade || (segment > 0 && s == 0) || s == length - kFade)
                expected = x(head);
            else {
                const int k = length - s;
                const float a = x(head);
                const float b = x(start + 2 * (length - kFade) - s);
                expected = static_cast<float>(k) * 0.01f * (a - b) + b;
            }
            const float y = line.processSample(x(t));
            ASSERT_NEAR(y, expected, 1e-3f) << "t " << t << " segment " << segment << " s " << s;
        }
    }
}

TEST(Delay, ReverseBeforeAnySetDelayUsesThousandSampleSegments)
{
    Line line(176400);
    EXPECT_EQ(line.getReverseCounter(), 1000);
    EXPECT_EQ(line.getReversePeriod(), 1000);
    auto x = [](int t) { return static_cast<float>(t + 10000); };
    for (int t = -3000; t < 0; ++t)
        line.processSample(x(t));
    line.setReverse(0.7f);
    // The head starts where the forward taps stood (1001 samples back) and runs backwards;
    // the second head is placed at the newest sample before it is ever read.
    std::vector<float> y(1200);
    for (int t = 0; t < 1200; ++t)
        y[t] = line.processSample(x(t));
    EXPECT_EQ(y[0], x(-1001));
    EXPECT_EQ(y[899], x(-1001 - 899));
    EXPECT_EQ(y[1000], x(800));  // the jump: written at 900, read 100 samples later
    EXPECT_EQ(y[1001], x(799));
}

TEST(Delay, ReverseSegmentsShorterThanTheCrossFadeStayRecent)
{
    // Up to 100 samples there is no room for the cross-fade: every segment must still start
    // at the newest sample and play backwards from there, never from older ring contents.
    for (float d : {0.0f, 1.0f, 37.0f, 99.0f, 100.0f, 101.0f}) {
        SCOPED_TRACE(d);
        Line line(176400);
        auto x = [](int t) { return static_cast<float>(t + 1); };
        for (int t = -5000; t < 0; ++t)
            line.processSample(x(t));
        line.setReverse(1.0f);
        line.setDelay(d);
        const int period = static_cast<int>(std::ceil(d));
        for (int t = 0; t < 20000; ++t) {
            const float y = line.processSample(x(t));
            // Playing backwards, the age grows by two samples per sample within a segment; it
            // stays within two segments plus the cross-fade's lead instead of
            // drifting into ever older audio.
            const float age = x(t) - y;
            ASSERT_GE(age, 0.0f) << "t " << t;
            ASSERT_LE(age, 4.0f * std::max(period, 100) + 40.0f) << "t " << t;
        }
    }
}

TEST(Delay, ReverseSwitchesOnlyAtHalf)
{
    Line line(64);
    line.setReverse(0.49f);
    EXPECT_FALSE(line.isReverse());
    line.setReverse(0.5f);
    EXPECT_TRUE(line.isReverse());
    line.setReverse(0.0f);
    EXPECT_FALSE(line.isReverse());
    // Forward setDelay leaves the backward segment alone.
    line.setDelay(5.0f);
    EXPECT_EQ(line.getReverseCounter(), 1000);
}

TEST(Delay, ClearSilencesAtOnceButKeepsGlideAndReversePosition)
{
    const std::vector<float> x = noise(4000, 4);
    Line line(176400);
    snapTo(line, 100.0f);
    for (int n = 0; n < 500; ++n)
        line.processSample(x[n]);
    line.setDelay(300.0f);
    for (int n = 500; n < 550; ++n)
        line.processSample(x[n]);
    const float current = line.getCurrentDelay(), rate = line.getGlideRate();
    const int age = line.getReadAge();
    line.clear();
    EXPECT_EQ(line.getLastOutput(), 0.0f);
    EXPECT_EQ(line.getCurrentDelay(), current);
    EXPECT_EQ(line.getGlideRate(), rate);
    EXPECT_EQ(line.getTargetDelay(), 300.0f);
    EXPECT_EQ(line.getReadAge(), age);
    // Nothing from before the clear comes out again.
    for (int n = 0; n < 100; ++n)
        ASSERT_EQ(line.processSample(0.0f), 0.0f) << n;

    Line rev(176400);
    for (int n = 0; n < 3000; ++n)
        rev.processSample(x[n]);
    rev.setReverse(1.0f);
    rev.setDelay(700.0f);
    for (int n = 0; n < 333; ++n)
        rev.processSample(x[n]);
    const int counter = rev.getReverseCounter(), period = rev.getReversePeriod();
    const int head = rev.getReadAge();
    rev.clear();
    EXPECT_EQ(rev.getReverseCounter(), counter);
    EXPECT_EQ(rev.getReversePeriod(), period);
    EXPECT_EQ(rev.getReadAge(), head);
    EXPECT_TRUE(rev.isReverse());
    EXPECT_EQ(rev.processSample(0.0f), 0.0f);
}

TEST(Delay, HostileDelayRequestsStayInsideTheRing)
{
    Line line(1024);
    line.setDelay(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(line.getTargetDelay(), 0.0f);
    line.setDelay(-5.0f);
    EXPECT_EQ(line.getTargetDelay(), 0.0f);
    line.setDelay(1e9f);
    EXPECT_EQ(line.getTargetDelay(), 1022.0f);
    line.setDelay(std::numeric_limits<float>::infinity());
    EXPECT_EQ(line.getTargetDelay(), 1022.0f);
    // The largest delay reads the oldest samples the ring still holds.
    const std::vector<float> x = noise(3000, 5);
    snapTo(line, 1e9f);
    for (int n = 0; n < 3000; ++n) {
        const float y = line.processSample(x[n]);
        if (n >= 1022) {
            ASSERT_EQ(y, x[n - 1022]) << n;
        }
        ASSERT_LT(line.getReadAge(), line.getLength());
    }
}

TEST(Delay, RestartReplacesTheTapsButKeepsTheGlide)
{
    // A line that has settled plays at exactly its length after a restart: the ring is empty,
    // writing starts at position 0, and an impulse comes back the set number of samples later.
    Line settled(2048);
    settled.setDelay(300.0f);
    for (int t = 0; t < 3000; ++t)
        settled.processSample(1.0f);
    ASSERT_EQ(settled.getCurrentDelay(), 300.0f);
    settled.restart();
    for (int t = 0; t < 400; ++t) {
        const float y = settled.processSample(t == 0 ? 1.0f : 0.0f);
        ASSERT_EQ(y, t == 300 ? 1.0f : 0.0f) << "t " << t;
    }

    // A line still gliding keeps its delay in force, its rate and its reverse state.
    Line gliding(2048);
    gliding.setReverse(1.0f);
    gliding.setDelay(123.0f);
    for (int t = 0; t < 5; ++t)
        gliding.processSample(1.0f);
    const float current = gliding.getCurrentDelay();
    const float rate = gliding.getGlideRate();
    const int counter = gliding.getReverseCounter();
    ASSERT_NE(current, 123.0f);
    gliding.restart();
    EXPECT_EQ(gliding.getCurrentDelay(), current);
    EXPECT_EQ(gliding.getGlideRate(), rate);
    EXPECT_TRUE(gliding.isReverse());
    EXPECT_EQ(gliding.getReverseCounter(), counter);
}
