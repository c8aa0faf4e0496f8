// The two-lane entry point against two single-channel units fed the same samples: outputs and
// every piece of state (envelope, gain, offset, history, the down-sampler's whole ring, its
// write position and offset) must agree to the bit, over random settings per channel, block
// lengths 1..64, resets, hostile inputs and settings, and both paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "dsp/Saturation.h"
#include "support/AllocationProbe.h"
#include "DspTestSupport.h"

namespace {

using skvtest::bitsOf;

struct Settings {
    bool os;
    float drive, threshold, attack, release, ratio;

    void apply(os2Distort& d) const { d.configure(os, drive, threshold, attack, release, ratio); }
};

Settings randomSettings(std::mt19937& rng, bool os)
{
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    Settings s{};
    s.os = os;
    s.drive = u(rng);
    // Mostly compressing thresholds (p^4 of the owner's setting), now and then off (>= 1).
    const float p = u(rng) < 0.15f ? 1.0f + u(rng) : u(rng);
    s.threshold = p * p * p * p;
    // The owner's coefficients are exp(-1/(44.1 ms)) for times from 0.1 ms up; 0 is the
    // fastest possible follower.
    s.attack = u(rng) < 0.1f ? 0.0f : 1.0f - std::pow(10.0f, -4.0f * u(rng));
    s.release = u(rng) < 0.1f ? 0.0f : 1.0f - std::pow(10.0f, -4.0f * u(rng));
    s.ratio = 2.0f * u(rng);
    return s;
}

std::vector<float> randomSignal(std::mt19937& rng, int n)
{
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n));
    // Bursts of different loudness, so the envelope both attacks and releases and the gain
    // law runs inside and outside its table.
    float amp = 1.0f;
    for (int i = 0; i < n; ++i) {
        if (i % 97 == 0) {
            const float a = level(rng);
            amp = a < 0.1f ? 0.0f : a < 0.3f ? 1e-3f * a : a < 0.9f ? 1.5f * a : 20.0f * a;
        }
        v[static_cast<std::size_t>(i)] = amp * u(rng);
    }
    return v;
}

// Compares everything the unit keeps; returns the first difference as text ("" if none).
std::string difference(const os2Distort& a, const os2Distort& b)
{
    if (bitsOf(a.getGain()) != bitsOf(b.getGain()))
        return "gain";
    if (bitsOf(a.getEnvelope()) != bitsOf(b.getEnvelope()))
        return "envelope";
    if (bitsOf(a.getOffset()) != bitsOf(b.getOffset()))
        return "offset";
    for (int j = 0; j < 4; ++j)
        if (bitsOf(a.getHistory()[j]) != bitsOf(b.getHistory()[j]))
            return "history " + std::to_string(j);
    const auto& fa = a.getLowpass();
    const auto& fb = b.getLowpass();
    if (bitsOf(fa.getDenormal()) != bitsOf(fb.getDenormal()))
        return "filter offset";
    if (bitsOf(fa.getLastOutput()) != bitsOf(fb.getLastOutput()))
        return "filter output";
    for (std::size_t i = 0; i < fa.getState().size(); ++i)
        if (bitsOf(fa.getState()[i]) != bitsOf(fb.getState()[i]))
            return "filter state " + std::to_string(i);
    return "";
}

// Two channels processed twice: by two single calls (reference) and by processStereo.
struct Rig {
    os2Distort singleL, singleR, pairL, pairR;

    void configure(const Settings& l, const Settings& r)
    {
        l.apply(singleL);
        l.apply(pairL);
        r.apply(singleR);
        r.apply(pairR);
    }

    // Runs one block through both forms and checks outputs and state; false on a mismatch.
    ::testing::AssertionResult block(const float* inL, const float* inR, int n)
    {
        std::vector<float> refL(inL, inL + n), refR(inR, inR + n);
        std::vector<float> outL(inL, inL + n), outR(inR, inR + n);
        singleL.process(refL.data(), n);
        singleR.process(refR.data(), n);
        processStereo(pairL, pairR, outL.data(), outR.data(), n);
        for (int i = 0; i < n; ++i) {
            if (bitsOf(refL[static_cast<std::size_t>(i)]) !=
                bitsOf(outL[static_cast<std::size_t>(i)]))
                return ::testing::AssertionFailure()
                       << "left sample " << i << ": " << refL[static_cast<std::size_t>(i)] << " vs "
                       << outL[static_cast<std::size_t>(i)];
            if (bitsOf(refR[static_cast<std::size_t>(i)]) !=
                bitsOf(outR[static_cast<std::size_t>(i)]))
                return ::testing::AssertionFailure()
                       << "right sample " << i << ": " << refR[static_cast<std::size_t>(i)]
                       << " vs " << outR[static_cast<std::size_t>(i)];
        }
        const std::string dl = difference(singleL, pairL);
        if (!dl.empty())
            return ::testing::AssertionFailure() << "left state: " << dl;
        const std::string dr = difference(singleR, pairR);
        if (!dr.empty())
            return ::testing::AssertionFailure() << "right state: " << dr;
        return ::testing::AssertionSuccess();
    }
};

void runRandomSession(bool os, unsigned seed)
{
    std::mt19937 rng(seed);
    auto rig = std::make_unique<Rig>();
    std::uniform_int_distribution<int> lengths(1, 64);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const int total = 20000;
    const std::vector<float> xl = randomSignal(rng, total);
    const std::vector<float> xr = randomSignal(rng, total);
    Settings sl = randomSettings(rng, os), sr = randomSettings(rng, os);
    rig->configure(sl, sr);
    for (int pos = 0; pos < total;) {
        const int n = std::min(lengths(rng), total - pos);
        // New settings now and then, per channel (the engine rewrites them every sub-block).
        if (u(rng) < 0.1f)
            sl = randomSettings(rng, os);
        if (u(rng) < 0.1f)
            sr = randomSettings(rng, os);
        rig->configure(sl, sr);
        // Runaway resets of one channel, as the engine does them.
        if (u(rng) < 0.02f) {
            for (os2Distort* d : {&rig->singleL, &rig->pairL}) {
                d->reset();
                d->setGain(1.0f);
            }
        }
        if (u(rng) < 0.02f) {
            for (os2Distort* d : {&rig->singleR, &rig->pairR}) {
                d->reset();
                d->setGain(1.0f);
            }
        }
        ASSERT_TRUE(rig->block(xl.data() + pos, xr.data() + pos, n))
            << "seed " << seed << " at " << pos << ", block " << n;
        pos += n;
    }
}

}  // namespace

TEST(SaturationStereo, PlainPathIsBitIdenticalToTwoSingleCalls)
{
    for (unsigned seed = 1; seed <= 6; ++seed)
        runRandomSession(false, seed);
}

TEST(SaturationStereo, OversampledPathIsBitIdenticalToTwoSingleCalls)
{
    for (unsigned seed = 11; seed <= 16; ++seed)
        runRandomSession(true, seed);
}

TEST(SaturationStereo, ChannelsOutOfStepStayIdentical)
{
    // The left unit alone runs an odd number of samples first: the lanes then differ in the
    // sign of their offsets and in their ring positions.
    for (bool os : {false, true}) {
        SCOPED_TRACE(os ? "oversampled" : "plain");
        std::mt19937 rng(5);
        auto rig = std::make_unique<Rig>();
        rig->configure(randomSettings(rng, os), randomSettings(rng, os));
        std::vector<float> lead = randomSignal(rng, 37);
        std::vector<float> a = lead, b = lead;
        rig->singleL.process(a.data(), 37);
        rig->pairL.process(b.data(), 37);
        const std::vector<float> xl = randomSignal(rng, 3000), xr = randomSignal(rng, 3000);
        for (int pos = 0; pos < 3000; pos += 50)
            ASSERT_TRUE(rig->block(xl.data() + pos, xr.data() + pos, 50)) << pos;
        EXPECT_NE(rig->pairL.getOffset(), rig->pairR.getOffset());
    }
}

TEST(SaturationStereo, EveryBlockLengthFromOneToSixtyFour)
{
    for (bool os : {false, true}) {
        std::mt19937 rng(os ? 21 : 22);
        auto rig = std::make_unique<Rig>();
        rig->configure(randomSettings(rng, os), randomSettings(rng, os));
        const std::vector<float> xl = randomSignal(rng, 64 * 65 / 2);
        const std::vector<float> xr = randomSignal(rng, 64 * 65 / 2);
        int pos = 0;
        for (int n = 1; n <= 64; ++n) {
            ASSERT_TRUE(rig->block(xl.data() + pos, xr.data() + pos, n)) << "block " << n;
            pos += n;
        }
    }
}

TEST(SaturationStereo, GainLawBeyondTheExponentialTable)
{
    // Threshold 0 (log about -38) and steep ratios: the exponent runs from inside the table
    // across its end (t = -64, about a ratio of 7.5 for a level of -0.3 here) to far beyond,
    // where the unit computes the exponential directly.
    for (bool os : {false, true}) {
        auto rig = std::make_unique<Rig>();
        std::vector<float> x(400, 0.5f);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = (i & 1) ? 0.5f : -0.5f;
        for (int step = 0; step <= 1000; ++step) {
            // Left sweeps the ratio through the end of the table with threshold 1e-4, right
            // stays far beyond it.
            const float ratio = 7.3f + 0.0004f * static_cast<float>(step);
            const Settings l{os, 0.5f, 1e-4f, 0.0f, 0.9f, ratio};
            const Settings r{os, 0.5f, 0.0f, 0.0f, 0.9f, 2.0f};
            rig->configure(l, r);
            ASSERT_TRUE(rig->block(x.data() + (step % 2), x.data() + 100, 7)) << step;
        }
        EXPECT_LT(rig->pairR.getGain(), 1e-6f);
    }
}

TEST(SaturationStereo, HostileInputsAndSettingsRecoverTheSameWay)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (bool os : {false, true}) {
        SCOPED_TRACE(os ? "oversampled" : "plain");
        std::mt19937 rng(os ? 31 : 32);
        auto rig = std::make_unique<Rig>();
        rig->configure(randomSettings(rng, os), randomSettings(rng, os));
        std::vector<float> xl = randomSignal(rng, 200), xr = randomSignal(rng, 200);
        xl[3] = nan;
        xl[4] = inf;
        xr[4] = -inf;
        xr[9] = 1e38f;
        xl[10] = -1e38f;
        xr[11] = nan;
        xl[12] = 1e-40f;  // subnormal input
        ASSERT_TRUE(rig->block(xl.data(), xr.data(), 200));

        // Non-finite settings in one lane poison its state; both forms start that unit clean,
        // and the other lane carries on untouched.
        rig->configure({os, 0.5f, 0.01f, 0.5f, 0.9f, nan}, {os, 0.5f, 0.01f, 0.5f, 0.9f, 1.0f});
        ASSERT_TRUE(rig->block(xl.data(), xr.data(), 64));
        EXPECT_EQ(rig->pairL.getGain(), 1.0f);
        rig->configure({os, inf, 0.01f, 0.5f, 0.9f, 1.0f}, {os, 0.5f, -inf, nan, 0.9f, inf});
        ASSERT_TRUE(rig->block(xl.data(), xr.data(), 64));
        rig->configure({os, 0.5f, nan, 0.5f, 0.9f, 1.0f}, {os, 0.5f, 0.2f, 2.0f, -3.0f, 1.0f});
        ASSERT_TRUE(rig->block(xl.data(), xr.data(), 64));

        // And both carry on identically with sound settings.
        rig->configure(randomSettings(rng, os), randomSettings(rng, os));
        const std::vector<float> yl = randomSignal(rng, 500), yr = randomSignal(rng, 500);
        ASSERT_TRUE(rig->block(yl.data(), yr.data(), 500));
        EXPECT_TRUE(std::isfinite(rig->pairL.getGain()));
        EXPECT_TRUE(std::isfinite(rig->pairR.getGain()));
    }
}

TEST(SaturationStereo, UnitsThatDifferInOversamplingRunOneByOne)
{
    std::mt19937 rng(41);
    auto rig = std::make_unique<Rig>();
    rig->configure(randomSettings(rng, true), randomSettings(rng, false));
    const std::vector<float> xl = randomSignal(rng, 1000), xr = randomSignal(rng, 1000);
    for (int pos = 0; pos < 1000; pos += 40) {
        ASSERT_TRUE(rig->block(xl.data() + pos, xr.data() + pos, 40)) << pos;
        // Swap the modes half-way.
        if (pos == 480)
            rig->configure(randomSettings(rng, false), randomSettings(rng, true));
    }
}

TEST(SaturationStereo, SharedBuffersAndOneUnitTwiceMeanTwoCallsInTurn)
{
    for (bool os : {false, true}) {
        std::mt19937 rng(os ? 51 : 52);
        const Settings s1 = randomSettings(rng, os), s2 = randomSettings(rng, os);
        const std::vector<float> x = randomSignal(rng, 300);

        // One buffer for both channels: the right unit works on the left unit's output.
        os2Distort a, b, c, d;
        s1.apply(a);
        s1.apply(c);
        s2.apply(b);
        s2.apply(d);
        std::vector<float> ref = x, out = x;
        a.process(ref.data(), 300);
        b.process(ref.data(), 300);
        processStereo(c, d, out.data(), out.data(), 300);
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(bitsOf(ref[static_cast<std::size_t>(i)]),
                      bitsOf(out[static_cast<std::size_t>(i)]))
                << i;

        // Buffers overlapping by half.
        std::vector<float> ref2(450), out2(450);
        std::copy(x.begin(), x.end(), ref2.begin());
        std::copy(x.begin(), x.end(), out2.begin());
        a.process(ref2.data(), 300);
        b.process(ref2.data() + 150, 300);
        processStereo(c, d, out2.data(), out2.data() + 150, 300);
        for (std::size_t i = 0; i < ref2.size(); ++i)
            ASSERT_EQ(bitsOf(ref2[i]), bitsOf(out2[i])) << i;

        // The same unit for both channels: left block, then right block, through one state.
        os2Distort e, f;
        s1.apply(e);
        s1.apply(f);
        std::vector<float> l1 = x, r1(x.rbegin(), x.rend());
        std::vector<float> l2 = l1, r2 = r1;
        e.process(l1.data(), 300);
        e.process(r1.data(), 300);
        processStereo(f, f, l2.data(), r2.data(), 300);
        for (std::size_t i = 0; i < 300; ++i) {
            ASSERT_EQ(bitsOf(l1[i]), bitsOf(l2[i])) << i;
            ASSERT_EQ(bitsOf(r1[i]), bitsOf(r2[i])) << i;
        }
        EXPECT_EQ(difference(e, f), "");
    }
}

TEST(SaturationStereo, EmptyBlockChangesNothing)
{
    for (bool os : {false, true}) {
        std::mt19937 rng(61);
        auto rig = std::make_unique<Rig>();
        rig->configure(randomSettings(rng, os), randomSettings(rng, os));
        const std::vector<float> xl = randomSignal(rng, 100), xr = randomSignal(rng, 100);
        ASSERT_TRUE(rig->block(xl.data(), xr.data(), 100));
        float l = 0.25f, r = -0.25f;
        processStereo(rig->pairL, rig->pairR, &l, &r, 0);
        processStereo(rig->pairL, rig->pairR, &l, &r, -5);
        EXPECT_EQ(l, 0.25f);
        EXPECT_EQ(r, -0.25f);
        EXPECT_EQ(difference(rig->singleL, rig->pairL), "");
        EXPECT_EQ(difference(rig->singleR, rig->pairR), "");
    }
}

TEST(SaturationStereo, AllocatesNothing)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    std::mt19937 rng(71);
    os2Distort a, b;
    std::vector<float> xl = randomSignal(rng, 300), xr = randomSignal(rng, 300);
    skvtest::startCountingAllocations();
    for (bool os : {false, true, false}) {
        a.configure(os, 0.5f, 0.0f, 0.3f, 0.99f, 2.0f);  // far beyond the exponential table
        b.configure(os, 0.5f, 0.05f, 0.3f, 0.99f, 1.2f);
        processStereo(a, b, xl.data(), xr.data(), 300);
        processStereo(a, a, xl.data(), xr.data(), 7);
    }
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
}
