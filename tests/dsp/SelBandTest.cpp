// Band filter bank: column segmentation, peaks, resonance law, gain normalisation (and its
// guard), the 128-sample refresh, output against separately driven bands, and posted
// changes from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "dsp/SelBand.h"
#include "DspTestSupport.h"

namespace {

using Column = std::vector<float>;
using skvtest::sameAsScalar;

struct Segment {
    int start, end;
};

// Gains of step 7 for given segments, written out directly.
std::vector<double> expectedGains(const Column& v, const std::vector<Segment>& segs)
{
    std::vector<double> mean;
    double total = 0;
    for (const Segment& s : segs) {
        double sum = 0;
        for (int k = s.start; k < s.end; ++k)
            sum += v[k] + 0.2;
        total += sum;
        const double m = sum / (s.end - s.start);
        mean.push_back(m < 1e-6 ? 0 : m);
    }
    for (double& m : mean)
        m *= 160.0 / total;
    return mean;
}

std::unique_ptr<CSelBand> bankWith(int bands)
{
    auto b = std::make_unique<CSelBand>();
    b->setActiveBands(bands);
    b->applyPendingChanges();
    return b;
}

}  // namespace

TEST(SelBand, ThreeBandsSplitTheColumnAt26And53)
{
    Column v(80, -0.1f);
    v[25] = 0.1f;   // last value of band 0
    v[26] = 0.2f;   // first of band 1
    v[52] = 0.15f;  // last of band 1
    v[53] = 0.21f;  // first of band 2, above band 1's peak
    for (int k = 54; k < 80; ++k)
        v[k] = 0.05f;
    auto bank = bankWith(3);
    bank->setFromColumn(v.data());
    EXPECT_FLOAT_EQ(bank->getPeakPosition(0), 25.5f * 0.0125f);
    EXPECT_FLOAT_EQ(bank->getPeakPosition(1), 26.5f * 0.0125f);
    EXPECT_FLOAT_EQ(bank->getPeakPosition(2), 53.5f * 0.0125f);
    EXPECT_FLOAT_EQ(bank->getPeakHeight(1), 0.2f);
    const std::vector<double> g = expectedGains(v, {{0, 26}, {26, 53}, {53, 80}});
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(bank->getGainTarget(i), g[i], 1e-5 * std::fabs(g[i]) + 1e-7) << i;
}

TEST(SelBand, PeaksSetTuningAndResonance)
{
    Column v(80, 0.0f);
    for (int k = 26; k < 53; ++k)
        v[k] = -0.5f;  // band 1 all negative
    v[10] = 0.3f;      // band 0: above 0.25, counts as 1
    v[60] = 0.2f;      // band 2: kept as it is
    auto bank = bankWith(3);
    bank->setFromColumn(v.data());
    // Initial warp 0.7 and resonance scale 0.5.
    const double exponent = 3.2 * 0.7 + 0.8;
    EXPECT_FLOAT_EQ(bank->getPeakHeight(0), 1.0f);
    EXPECT_FLOAT_EQ(bank->getBand(0).getDampingTarget(), 0.25f);
    EXPECT_NEAR(bank->getBand(0).getCutoffTarget(),
                std::pow(10.5 * 0.0125, exponent) + 40.0 / 44100.0, 1e-6);

    EXPECT_EQ(bank->getPeakHeight(1), 0.0f);
    EXPECT_FLOAT_EQ(bank->getPeakPosition(1), 26.5f * 0.0125f);
    EXPECT_EQ(bank->getBand(1).getDampingTarget(), 0.0f);
    EXPECT_EQ(bank->getGainTarget(1), 0.0f);

    EXPECT_FLOAT_EQ(bank->getPeakHeight(2), 0.2f);
    EXPECT_NEAR(bank->getBand(2).getDampingTarget(), 0.01, 1e-7);  // (0.5 * 0.2)^2
}

TEST(SelBand, TuningsRefreshEvery128SamplesWithoutTheFloor)
{
    Column v(80, 0.0f);
    v[40] = 0.5f;
    auto bank = bankWith(2);
    bank->setFromColumn(v.data());
    const double pos1 = 40.5 * 0.0125;      // band 1 holds values 40..79
    bank->processSample(0.0f, 0.3f, 0.5f);  // sample 0 refreshes
    EXPECT_NEAR(bank->getBand(1).getCutoffTarget(), std::pow(pos1, 3.2 * 0.3 + 0.8), 1e-6);
    for (int i = 1; i < 128; ++i)
        bank->processSample(0.0f, 0.9f, 0.9f);
    EXPECT_NEAR(bank->getBand(1).getCutoffTarget(), std::pow(pos1, 3.2 * 0.3 + 0.8), 1e-6);
    EXPECT_FLOAT_EQ(bank->getBand(1).getDampingTarget(), 0.25f);
    bank->processSample(0.0f, 0.9f, 0.9f);  // sample 128
    EXPECT_NEAR(bank->getBand(1).getCutoffTarget(), std::pow(pos1, 3.2 * 0.9 + 0.8), 1e-6);
    EXPECT_NEAR(bank->getBand(1).getDampingTarget(), 0.81, 1e-6);
}

TEST(SelBand, OutputIsTheScaledSumOfGlidingBands)
{
    Column v(80);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(-0.6f, 0.9f);
    for (float& x : v)
        x = d(rng);
    auto bank = bankWith(4);
    bank->setSmoothing(0.99f);
    bank->setFromColumn(v.data());

    // Four bands driven by hand with the tunings the formulas give.
    const std::vector<Segment> segs = {{0, 20}, {20, 40}, {40, 60}, {60, 80}};
    const std::vector<double> gains = expectedGains(v, segs);
    std::vector<CDrivenSVF> ref(4);
    std::vector<double> pos(4), height(4), smoothed(4, 0.0);
    for (int i = 0; i < 4; ++i) {
        int pi = segs[i].start;
        float peak = 0;
        for (int k = segs[i].start; k < segs[i].end; ++k)
            if (v[k] > peak)
                peak = v[k], pi = k;
        pos[i] = (pi + 0.5) * 0.0125;
        height[i] = peak > 0.25f ? 1.0 : peak;
        ref[i].setGlide(0.99f);
    }
    const float warp = 0.4f, res = 0.8f;
    double worst = 0;
    for (int n = 0; n < 1000; ++n) {
        const float x = std::sin(0.05f * n);
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            if (n % 128 == 0) {
                const double r = res * height[i];
                ref[i].setCutoffTarget(static_cast<float>(std::pow(pos[i], 3.2 * warp + 0.8)));
                ref[i].setDampingTarget(static_cast<float>(r > 1 ? 1 : r <= 1e-8 ? 0 : r * r));
            }
            smoothed[i] = gains[i] + 0.99 * (smoothed[i] - gains[i]);
            sum += ref[i].processSample(x) * smoothed[i];
        }
        const double expected = std::log(4.0) * sum;
        worst = std::max(worst, std::fabs(bank->processSample(x, warp, res) - expected));
    }
    EXPECT_LT(worst, 1e-4);
}

TEST(SelBand, EveryBandCountCoversTheColumn)
{
    Column v(80, 0.3f);  // every mean 0.5, total 40: each gain 0.5 * 160 / 40 = 2
    for (int n = 1; n <= 80; ++n) {
        auto bank = bankWith(n);
        EXPECT_FLOAT_EQ(bank->getOutputScale(), std::log(static_cast<float>(n)));
        bank->setFromColumn(v.data());
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(bank->getGainTarget(i), 2.0f, 1e-4f) << n << " bands, band " << i;
        for (int s = 0; s < 300; ++s)
            ASSERT_TRUE(std::isfinite(bank->processSample(std::sin(0.1f * s), 0.7f, 0.99f)));
    }
    EXPECT_EQ(bankWith(0)->getActiveBands(), 1);
    EXPECT_EQ(bankWith(500)->getActiveBands(), 80);
}

TEST(SelBand, ColumnsWithoutPositiveTotalStayFinite)
{
    auto run = [](const Column& v, int bands) {
        auto bank = bankWith(bands);
        bank->setFromColumn(v.data());
        float worst = 0;
        for (int s = 0; s < 2000; ++s) {
            const float y = bank->processSample(std::sin(0.07f * s), 0.7f, 0.99f);
            EXPECT_TRUE(std::isfinite(y));
            worst = std::max(worst, std::fabs(y));
        }
        for (int i = 0; i < bands; ++i)
            EXPECT_TRUE(std::isfinite(bank->getGainTarget(i)) && bank->getGainTarget(i) >= 0);
        return worst;
    };
    // All zero: total 16, the ordinary case.
    EXPECT_GT(run(Column(80, 0.0f), 3), 0.0f);
    // All -0.2: every segment sum is 0, so is the total; no band has a gain.
    EXPECT_EQ(run(Column(80, -0.2f), 3), 0.0f);
    EXPECT_EQ(run(Column(80, -0.7f), 5), 0.0f);

    // Negative total with one live segment: it is normalised by its own sum instead.
    Column mixed(80, -0.5f);
    for (int k = 0; k < 26; ++k)
        mixed[k] = 0.3f;  // sum 13; the other two segments give -16.2
    auto bank = bankWith(3);
    bank->setFromColumn(mixed.data());
    EXPECT_NEAR(bank->getGainTarget(0), 0.5 * 160.0 / 13.0, 1e-4);
    EXPECT_EQ(bank->getGainTarget(1), 0.0f);
    EXPECT_GT(run(mixed, 3), 0.0f);

    // Non-finite values count as 0.
    Column bad(80, 0.1f);
    bad[3] = std::nanf("");
    bad[40] = INFINITY;
    bad[70] = -INFINITY;
    EXPECT_GT(run(bad, 3), 0.0f);
}

TEST(SelBand, InputIsClampedAndNaNIsSilence)
{
    Column v(80, 0.2f);
    auto a = bankWith(3), b = bankWith(3), c = bankWith(3), d = bankWith(3);
    for (CSelBand* k : {a.get(), b.get(), c.get(), d.get()})
        k->setFromColumn(v.data());
    for (int s = 0; s < 500; ++s) {
        ASSERT_EQ(a->processSample(7.0f, 0.5f, 0.5f), b->processSample(1.0f, 0.5f, 0.5f));
        ASSERT_EQ(c->processSample(std::nanf(""), 0.5f, 0.5f), d->processSample(0.0f, 0.5f, 0.5f));
    }
}

TEST(SelBand, ResetBandsReturnsGlidesToHalfInRequestOrder)
{
    Column v(80, 0.4f);
    auto bank = bankWith(5);
    bank->setFromColumn(v.data());
    for (int s = 0; s < 300; ++s)
        bank->processSample(0.5f, 0.5f, 0.9f);
    bank->setSmoothing(0.97f);
    bank->applyPendingChanges();
    EXPECT_FLOAT_EQ(bank->getSmoothing(), 0.97f);
    EXPECT_EQ(bank->getBand(79).getGlide(), 0.97f);

    bank->resetBands();
    bank->applyPendingChanges();
    for (int i = 0; i < CSelBand::kCapacity; ++i) {
        ASSERT_EQ(bank->getBand(i).getGlide(), 0.5f) << i;
        ASSERT_EQ(bank->getBand(i).getBand(), 0.0f) << i;
        ASSERT_EQ(bank->getBand(i).getCutoff(), 0.1f) << i;
    }
    EXPECT_FLOAT_EQ(bank->getSmoothing(), 0.97f);  // the gain glide is the owner's

    // Both posted before the audio thread looks: the later request wins.
    bank->resetBands();
    bank->setSmoothing(0.8f);
    bank->processSample(0.0f, 0.5f, 0.5f);
    EXPECT_EQ(bank->getBand(0).getGlide(), 0.8f);
    bank->setSmoothing(0.8f);
    bank->resetBands();
    bank->processSample(0.0f, 0.5f, 0.5f);
    EXPECT_EQ(bank->getBand(0).getGlide(), 0.5f);
}

TEST(SelBand, ChangesFromAnotherThreadAreSafe)
{
    Column v(80);
    for (int k = 0; k < 80; ++k)
        v[k] = std::sin(0.3f * k);
    CSelBand bank;
    std::atomic<bool> stop{false};
    std::thread parameters([&] {
        std::mt19937 rng(1);
        while (!stop.load()) {
            bank.setActiveBands(static_cast<int>(rng() % 25));
            bank.resetBands();
            bank.setSmoothing(static_cast<float>(rng() % 100) / 100.0f);
        }
    });
    std::vector<float> buf(64);
    float warp = 0.5f;
    for (int block = 0; block < 3000; ++block) {
        if (block % 10 == 0)
            bank.setFromColumn(v.data());
        for (int i = 0; i < 64; ++i)
            buf[i] = std::sin(0.01f * (block * 64 + i));
        bank.process(buf.data(), buf.data(), 64, warp, 0.0f, 0.9f);
        for (float y : buf)
            ASSERT_TRUE(std::isfinite(y));
    }
    stop.store(true);
    parameters.join();
    bank.setActiveBands(20);
    bank.applyPendingChanges();
    EXPECT_EQ(bank.getActiveBands(), 20);
    EXPECT_FLOAT_EQ(bank.getOutputScale(), std::log(20.0f));
}

TEST(SelBand, BlockPathEqualsPerSamplePath)
{
    Column v(80);
    for (int k = 0; k < 80; ++k)
        v[k] = 0.8f * std::cos(0.21f * k);
    auto a = bankWith(7), b = bankWith(7);
    a->setFromColumn(v.data());
    b->setFromColumn(v.data());
    std::vector<float> in(700), out(700);
    for (int i = 0; i < 700; ++i)
        in[i] = std::sin(0.03f * i);
    float warpB = 0.2f;
    for (int pos = 0; pos < 700; pos += 70)
        b->process(in.data() + pos, out.data() + pos, 70, warpB, 0.001f, 0.6f);
    float warpA = 0.2f;
    for (int i = 0; i < 700; ++i) {
        warpA += 0.001f;
        ASSERT_EQ(a->processSample(in[i], warpA, 0.6f), out[i]) << i;
    }
    EXPECT_EQ(warpA, warpB);
}

// ---- the lane-parallel bank against a bank of scalar bands ---------------------------------

namespace {

// The bank's per-sample rule written out with 80 scalar CDrivenSVF bands, one sample and one
// band at a time. The column analysis is taken over from the bank under test (its peaks and
// gain targets are checked by the tests above); the band targets come from the formulas.
struct ScalarBank {
    int active = CSelBand::kInitialBands;
    float scale = std::log(3.0f);
    float smoothing = 0.9f;
    float warp = 0.7f, resonance = 0.5f;
    std::uint32_t counter = 0;
    float output = 0.0f;
    CDrivenSVF bands[80];
    float position[80], height[80], gainTarget[80], gain[80];

    ScalarBank()
    {
        for (int i = 0; i < 80; ++i)
            position[i] = 0.01f, height[i] = 0.1f, gainTarget[i] = 0.0f, gain[i] = 0.0f;
    }
    float dampingFor(float peak) const
    {
        const float r = resonance * peak;
        return r > 1.0f ? 1.0f : (r <= 1e-8f ? 0.0f : r * r);
    }
    void setActive(int n)
    {
        active = std::clamp(n, 1, 80);
        scale = std::log(static_cast<float>(active));
    }
    void reset()
    {
        for (CDrivenSVF& b : bands)
            b.resetBand();
    }
    void setSmoothing(float s)
    {
        smoothing = s;
        for (CDrivenSVF& b : bands)
            b.setGlide(s);
    }
    void takeColumn(const CSelBand& bank)
    {
        const float exponent = 3.2f * warp + 0.8f;
        for (int i = 0; i < active; ++i) {
            position[i] = bank.getPeakPosition(i);
            height[i] = bank.getPeakHeight(i);
            gainTarget[i] = bank.getGainTarget(i);
            bands[i].setCutoffTarget(std::pow(position[i], exponent) + 40.0f / 44100.0f);
            bands[i].setDampingTarget(dampingFor(height[i]));
        }
    }
    float process(float x, float w, float res)
    {
        x = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : (std::isnan(x) ? 0.0f : x));
        warp = w;
        resonance = res;
        if (counter % 128 == 0)
            for (int i = 0; i < active; ++i) {
                bands[i].setCutoffTarget(std::pow(position[i], 3.2f * warp + 0.8f));
                bands[i].setDampingTarget(dampingFor(height[i]));
            }
        float sum = 0.0f;
        for (int i = 0; i < active; ++i) {
            float g = gainTarget[i] + smoothing * (gain[i] - gainTarget[i]);
            if (std::fabs(g) < 1e-10f)
                g = 0.0f;
            gain[i] = g;
            sum += bands[i].processSample(x) * g;
        }
        output = sum;
        ++counter;
        if (!std::isfinite(sum)) {
            for (CDrivenSVF& b : bands)
                b.resetBand(), b.setGlide(smoothing);
            for (float& g : gain)
                g = 0.0f;
            output = 0.0f;
        }
        return scale * output;
    }
};

::testing::AssertionResult sameBands(const CSelBand& bank, const ScalarBank& ref)
{
    for (int i = 0; i < 80; ++i) {
        const CDrivenSVF::State a = bank.getBand(i).getState();
        const CDrivenSVF::State b = ref.bands[i].getState();
        const float* pa = &a.cutoffTarget;
        const float* pb = &b.cutoffTarget;
        for (int f = 0; f < 13; ++f)
            if (!sameAsScalar(pa[f], pb[f]))
                return ::testing::AssertionFailure()
                       << "band " << i << " field " << f << ": " << pa[f] << " vs " << pb[f];
        if (!sameAsScalar(bank.getGainSmoothed(i), ref.gain[i]))
            return ::testing::AssertionFailure() << "gain of band " << i;
    }
    if (!sameAsScalar(bank.getOutput(), ref.output))
        return ::testing::AssertionFailure()
               << "output " << bank.getOutput() << " vs " << ref.output;
    return ::testing::AssertionSuccess();
}

// Drives the bank and the reference through the same blocks and compares every sample.
struct BankPair {
    CSelBand bank;
    ScalarBank ref;
    float warpBank = 0.6f, warpRef = 0.6f;
    long sample = 0;

    void setActive(int n, bool reset)
    {
        bank.setActiveBands(n);
        ref.setActive(n);
        if (reset) {
            bank.resetBands();
            ref.reset();
        }
    }
    void setSmoothing(float s)
    {
        bank.setSmoothing(s);
        ref.setSmoothing(s);
    }
    void setColumn(const std::vector<float>& column)
    {
        bank.setFromColumn(column.data());
        ref.takeColumn(bank);
    }
    ::testing::AssertionResult run(const std::vector<float>& in, float warpInc, float resonance,
                                   bool perSample)
    {
        const int n = static_cast<int>(in.size());
        std::vector<float> out(in.size());
        if (perSample)
            for (int i = 0; i < n; ++i) {
                warpBank += warpInc;
                out[i] = bank.processSample(in[i], warpBank, resonance);
            }
        else
            bank.process(in.data(), out.data(), n, warpBank, warpInc, resonance);
        for (int i = 0; i < n; ++i) {
            warpRef += warpInc;
            const float expected = ref.process(in[i], warpRef, resonance);
            if (!sameAsScalar(out[i], expected))
                return ::testing::AssertionFailure()
                       << "sample " << sample + i << " (" << ref.active << " bands): " << out[i]
                       << " vs " << expected;
        }
        sample += n;
        return ::testing::AssertionSuccess();
    }
};

std::vector<float> randomColumn(std::mt19937& rng)
{
    return skvtest::randomValues(rng, 80, -0.6f, 0.9f);
}

}  // namespace

TEST(SelBand, LaneBankMatchesScalarBandsOverLongRandomRuns)
{
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    std::uniform_int_distribution<int> blockLength(1, 150);
    BankPair p;
    p.setSmoothing(0.99f);
    p.setColumn(randomColumn(rng));
    for (int block = 0; block < 6000; ++block) {
        const float event = uni(rng);
        if (event < 0.03f) {
            // A new band count, mostly with the reset the engine always sends; without it the
            // bands that were idle must come back exactly as they were left.
            const int n = uni(rng) < 0.8f ? 1 + static_cast<int>(uni(rng) * 20.0f)
                                          : 1 + static_cast<int>(uni(rng) * 80.0f);
            p.setActive(n, uni(rng) < 0.8f);
        }
        else if (event < 0.05f)
            p.setSmoothing(uni(rng) < 0.5f ? 0.9f + 0.099f * uni(rng) : uni(rng));
        if (uni(rng) < 0.1f)
            p.setColumn(randomColumn(rng));
        std::vector<float> in(static_cast<std::size_t>(blockLength(rng)));
        for (float& x : in)
            x = 2.4f * uni(rng) - 1.2f;  // a little beyond full scale: the clamp takes part
        const float warpInc = (uni(rng) - 0.5f) * 1e-4f;
        ASSERT_TRUE(p.run(in, warpInc, 0.99f * uni(rng) + 1e-13f, uni(rng) < 0.1f));
        if (block % 250 == 0) {
            ASSERT_TRUE(sameBands(p.bank, p.ref)) << "block " << block;
        }
    }
    EXPECT_TRUE(sameBands(p.bank, p.ref));
    EXPECT_GT(p.sample, 400000);
}

TEST(SelBand, BlowUpInsideABlockRecoversAsPerSampleProcessingDoes)
{
    std::mt19937 rng(7);
    BankPair p;
    p.setActive(11, true);
    p.setSmoothing(0.95f);
    p.setColumn(randomColumn(rng));
    std::vector<float> in(50);
    for (int i = 0; i < 50; ++i)
        in[i] = std::sin(0.2f * static_cast<float>(i));
    // Samples 0..99, then a hostile warp in the block 100..149 makes the cutoff targets of
    // the refresh at sample 128 infinite: from there every sample blows up and recovers, until
    // the refresh at 256 brings finite targets back in the middle of another block.
    ASSERT_TRUE(p.run(in, 0.0f, 0.8f, false));
    ASSERT_TRUE(p.run(in, 0.0f, 0.8f, false));
    p.warpBank = p.warpRef = -1e30f;
    ASSERT_TRUE(p.run(in, 0.0f, 0.8f, false));
    EXPECT_TRUE(sameBands(p.bank, p.ref));
    EXPECT_EQ(p.bank.getOutput(), 0.0f);
    p.warpBank = p.warpRef = 0.6f;
    for (int b = 0; b < 6; ++b)
        ASSERT_TRUE(p.run(in, 0.0f, 0.8f, false)) << b;
    EXPECT_TRUE(sameBands(p.bank, p.ref));
    EXPECT_NE(p.bank.getOutput(), 0.0f);

    // Blown-up stretches that start and end mid-block with odd numbers of samples around them
    // (the denormal offsets must come out as if the bands had stopped at the blow-up).
    std::vector<float> odd(37, 0.25f);
    for (int b = 0; b < 12; ++b) {
        p.warpBank = p.warpRef = b % 4 == 1 ? -1e30f : 0.6f;
        ASSERT_TRUE(p.run(odd, 0.0f, 0.8f, b % 3 == 2)) << b;
    }
    EXPECT_TRUE(sameBands(p.bank, p.ref));
}
