// Compressor, soft clipper, 2x path and down-sampling filter against formulas written out
// here independently (double precision, std::log10 / std::exp where the unit approximates).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/Saturation.h"
#include "DspTestSupport.h"

namespace {

using skvtest::noise;
using skvtest::referenceLog2;

constexpr double kB[5] = {0.11492346322469, 0.45969385289874, 0.68954077934812, 0.45969385289874,
                          0.11492346322469};
constexpr double kA[5] = {1.0, 0.18370887947459, 0.65875675400081, -0.05048033194436,
                          0.05740547636112};
constexpr double kDcGain =
    (2 * 0.11492346322469 + 2 * 0.45969385289874 + 0.68954077934812) /
    (1.0 + 0.18370887947459 + 0.65875675400081 - 0.05048033194436 + 0.05740547636112);

double refClip(double y, double k)
{
    return y > 1 ? 1 : y < -1 ? -1 : y + k * y * (1 - y * y);
}

// Direct model of one channel: compressor, clipper, Catmull-Rom, direct form II low-pass.
struct Reference {
    bool os = false;
    double k = 0, thr = 1, att = 0, rel = 0, ratio = 0;
    double env = 0, gain = 1, offset = 1e-10, h[4] = {0, 0, 0, 0};
    double w[5] = {0, 0, 0, 0, 0}, den = 1e-13;

    double filter(double x)
    {
        const double w0 = x - kA[1] * w[0] - kA[2] * w[1] - kA[3] * w[2] - kA[4] * w[3] + den;
        den = -den;
        const double y = kB[0] * w0 + kB[1] * w[0] + kB[2] * w[1] + kB[3] * w[2] + kB[4] * w[3];
        for (int i = 3; i > 0; --i)
            w[i] = w[i - 1];
        w[0] = w0;
        return y;
    }
    void compress(double x)
    {
        const double p = x * x + offset;
        env = p + (p > env ? att : rel) * (env - p) + 1e-10;
        double target = 1;
        const double thrLog = referenceLog2(thr) * 0.30103;
        const double level = referenceLog2(env) * 0.150515;
        if (thr < 1 && level > thrLog)
            target = std::exp(-(level - thrLog) * ratio * std::log(10.0));
        gain = target + 0.95 * (gain - target);
    }
    double step(double x)
    {
        if (!os) {
            compress(x);
            const double y = x * gain + offset;
            offset = -offset;
            return refClip(y, k);
        }
        h[0] = h[1], h[1] = h[2], h[2] = h[3], h[3] = x;
        // Catmull-Rom at the midpoint in its textbook form.
        const double mid = (-h[0] + 9 * h[1] + 9 * h[2] - h[3]) / 16;
        compress(x);
        filter(refClip((mid + offset) * gain, k));
        const double y = filter(refClip((h[1] - offset) * gain, k));
        offset = -offset;
        return y;
    }
};

// Amplitude of the filter's output for a unit sine of f cycles per (oversampled) sample,
// by correlation with sine and cosine after the transient.
double filterGainAt(double f)
{
    Filter<5> flt;
    flt.setCoefficients(os2Distort::kLowpassB, os2Distort::kLowpassA);
    double si = 0, co = 0;
    const int settle = 2000, n = 20000;
    for (int i = 0; i < settle + n; ++i) {
        const double y = flt.processSample(std::sin(2 * M_PI * f * i));
        if (i >= settle)
            si += y * std::sin(2 * M_PI * f * i), co += y * std::cos(2 * M_PI * f * i);
    }
    return 2.0 / n * std::hypot(si, co);
}

}  // namespace

TEST(Saturation, ClipHoldsFullScaleAndFollowsTheCubic)
{
    for (float k : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 2.0f}) {
        EXPECT_EQ(os2Distort::clip(1.0f, k), 1.0f) << k;
        EXPECT_EQ(os2Distort::clip(-1.0f, k), -1.0f) << k;
        EXPECT_EQ(os2Distort::clip(1.5f, k), 1.0f) << k;
        EXPECT_EQ(os2Distort::clip(-7.0f, k), -1.0f) << k;
        EXPECT_EQ(os2Distort::clip(0.0f, k), 0.0f) << k;
    }
    EXPECT_FLOAT_EQ(os2Distort::clip(0.5f, 1.0f), 0.875f);
    EXPECT_FLOAT_EQ(os2Distort::clip(-0.5f, 1.0f), -0.875f);
}

TEST(Saturation, ThresholdAtOrAboveOneGlidesTheGainToOne)
{
    os2Distort d;
    d.configure(false, 0.3f, 1.0f, 0.9f, 0.99f, 2.0f);
    d.setGain(0.2f);
    std::vector<float> loud(100, 0.9f);
    d.process(loud.data(), 100);
    EXPECT_NEAR(d.getGain(), 1.0 - 0.8 * std::pow(0.95, 100), 1e-5);
    std::vector<float> more(1000, -3.0f);
    d.process(more.data(), 1000);
    EXPECT_NEAR(d.getGain(), 1.0f, 1e-6f);
}

TEST(Saturation, RatioOneADecadeOverThresholdGivesATenthOfGain)
{
    // Envelope weights 0: the envelope is the current power. Level 0.1 (power 0.01) against
    // a threshold of 0.01 is one decade; ratio 1 then asks for a gain of 10^-1.
    os2Distort d;
    d.configure(false, 0.0f, 0.01f, 0.0f, 0.0f, 1.0f);
    std::vector<float> x(2000, 0.1f);
    d.process(x.data(), 2000);
    // Both logarithms are approximations (each within 0.003 of log10).
    EXPECT_NEAR(std::log10(d.getGain()), -1.0, 0.006);
    // And the unit's gain matches the closed form with the same approximation.
    const double level = referenceLog2(0.01 + 1e-10) * 0.150515;
    const double thrLog = referenceLog2(0.01f) * 0.30103;
    EXPECT_NEAR(d.getGain(), std::pow(10.0, -(level - thrLog)), 1e-5);
    EXPECT_NEAR(x[1999], 0.1 * d.getGain(), 1e-6);
}

TEST(Saturation, BothPathsMatchTheDirectModel)
{
    for (bool os : {false, true}) {
        SCOPED_TRACE(os ? "oversampled" : "plain");
        os2Distort d;
        Reference r;
        r.os = os;
        r.k = 0.6, r.thr = 0.05, r.att = 0.5, r.rel = 0.999, r.ratio = 1.4;
        d.configure(os, 0.6f, 0.05f, 0.5f, 0.999f, 1.4f);
        std::vector<float> x = noise(4000, 7, 1.5f);
        for (int i = 1000; i < 2000; ++i)
            x[i] *= 0.05f;  // quiet stretch: release and gain recovery
        double worst = 0;
        for (float v : x)
            worst = std::max(worst, std::fabs(d.processSample(v) - r.step(v)));
        EXPECT_LT(worst, 2e-4);
    }
}

TEST(Saturation, BlockPathEqualsPerSamplePath)
{
    for (bool os : {false, true}) {
        os2Distort a, b;
        a.configure(os, 0.8f, 0.2f, 0.3f, 0.99f, 0.7f);
        b.configure(os, 0.8f, 0.2f, 0.3f, 0.99f, 0.7f);
        std::vector<float> x = noise(1000, 3, 1.2f);
        std::vector<float> y = x;
        for (int pos = 0, len = 1; pos < 1000; pos += len, len = len % 37 + 5)
            b.process(y.data() + pos, std::min(len, 1000 - pos));
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(a.processSample(x[i]), y[i]) << (os ? "os " : "plain ") << i;
    }
}

TEST(Saturation, OversampledConstantSettlesToClipTimesFilterDcGain)
{
    os2Distort d;
    d.configure(true, 0.5f, 1.0f, 0.9f, 0.9f, 1.0f);
    std::vector<float> x(3000, 0.5f);
    d.process(x.data(), 3000);
    EXPECT_NEAR(kDcGain, 0.9943, 1e-4);
    EXPECT_NEAR(x[2999], refClip(0.5, 0.5) * kDcGain, 1e-5);
    EXPECT_NEAR(x[2998], x[2999], 1e-6);

    // With compression the same holds for the settled gain.
    os2Distort c;
    c.configure(true, 0.5f, 0.1f, 0.2f, 0.2f, 1.0f);
    std::vector<float> y(3000, 0.7f);
    c.process(y.data(), 3000);
    EXPECT_LT(c.getGain(), 0.9f);
    EXPECT_NEAR(y[2999], refClip(0.7 * c.getGain(), 0.5) * kDcGain, 1e-5);
}

TEST(Saturation, OffsetsAlternate)
{
    for (bool os : {false, true}) {
        os2Distort d;
        d.configure(os, 0.5f, 1.0f, 0.9f, 0.9f, 1.0f);
        const double den0 = d.getLowpass().getDenormal();
        float prev = d.getOffset();
        EXPECT_FLOAT_EQ(std::fabs(prev), 1e-10f);
        for (int i = 0; i < 10; ++i) {
            const auto state = d.getLowpass().getState();
            d.processSample(0.1f);
            EXPECT_EQ(d.getOffset(), -prev);
            prev = d.getOffset();
            // Two filter steps per sample when oversampling (so the filter's offset flips
            // twice and is back where it was, and the state moves on), none otherwise.
            EXPECT_EQ(d.getLowpass().getState() != state, os);
            EXPECT_EQ(d.getLowpass().getDenormal(), den0);
        }
    }
    Filter<5> f;
    double den = f.getDenormal();
    EXPECT_EQ(den, 1e-13);
    for (int i = 0; i < 5; ++i) {
        f.processSample(0.0);
        EXPECT_EQ(f.getDenormal(), -den);
        den = f.getDenormal();
    }
}

TEST(Saturation, FilterImpulseResponseMatchesTheRecurrence)
{
    Filter<5> f;
    f.setCoefficients(os2Distort::kLowpassB, os2Distort::kLowpassA);
    EXPECT_EQ(f.getNegA(1), static_cast<float>(-kA[1]));
    EXPECT_EQ(f.getB(2), static_cast<float>(kB[2]));
    Reference r;
    for (int i = 0; i < 3000; ++i) {
        const double x = i == 0 ? 1.0 : 0.0;
        ASSERT_NEAR(f.processSample(x), r.filter(x), 1e-6) << i;
    }
    // A run of steps in locals leaves the filter where single steps do.
    Filter<5> single, run;
    for (Filter<5>* g : {&single, &run})
        g->setCoefficients(os2Distort::kLowpassB, os2Distort::kLowpassA);
    auto state = run.beginRun();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(run.step(state, 0.25 * i), single.processSample(0.25 * i)) << i;
    run.endRun(state, single.getLastOutput());
    EXPECT_EQ(run.getState(), single.getState());
    EXPECT_EQ(run.getDenormal(), single.getDenormal());
}

TEST(Saturation, DownSamplerIsFlatInPassBandAndStopsNearNyquist)
{
    for (double fr : {0.01, 0.05, 0.1, 0.15, 0.2, 0.24}) {
        const double g = filterGainAt(fr);
        EXPECT_GT(g, 0.99) << fr;
        EXPECT_LT(g, 1.001) << fr;
    }
    EXPECT_LT(filterGainAt(0.4), 0.02);
    EXPECT_LT(filterGainAt(0.45), 0.002);
    EXPECT_LT(filterGainAt(0.49), 0.0005);
}

TEST(Saturation, ResetClearsOnlyTheFilter)
{
    os2Distort d;
    d.configure(true, 0.5f, 0.1f, 0.5f, 0.9f, 1.0f);
    std::vector<float> x = noise(200, 11, 1.0f);
    d.process(x.data(), 200);
    const float gain = d.getGain(), env = d.getEnvelope(), h3 = d.getHistory()[3];
    d.reset();
    EXPECT_EQ(d.getGain(), gain);
    EXPECT_EQ(d.getEnvelope(), env);
    EXPECT_EQ(d.getHistory()[3], h3);
    EXPECT_EQ(d.getLowpass().getLastOutput(), 0.0f);
    for (float w : d.getLowpass().getState())
        EXPECT_EQ(w, 0.0f);
}

TEST(Saturation, HostileInputsNeverPoisonTheState)
{
    for (bool os : {false, true}) {
        os2Distort d;
        d.configure(os, 1.0f, 0.0f, 0.0f, 0.0f, 2.0f);  // threshold 0: strongest reduction
        std::vector<float> x = {std::nanf(""), INFINITY, -INFINITY, 1e38f, -1e38f, 0.3f};
        d.process(x.data(), static_cast<int>(x.size()));
        for (float v : x)
            EXPECT_TRUE(std::isfinite(v));
        d.configure(os, 0.5f, 1.0f, 0.9f, 0.9f, 1.0f);
        std::vector<float> y(4000, 0.5f);
        d.process(y.data(), 4000);
        EXPECT_NEAR(y[3999], refClip(0.5, 0.5) * (os ? kDcGain : 1.0), 1e-4);
        // A long silence with full reduction leaves no subnormal gain behind.
        d.configure(os, 0.5f, 0.0f, 0.0f, 0.0f, 2.0f);
        std::vector<float> z(5000, 0.5f);
        d.process(z.data(), 5000);
        EXPECT_NE(std::fpclassify(d.getGain()), FP_SUBNORMAL);
        EXPECT_NE(std::fpclassify(d.getEnvelope()), FP_SUBNORMAL);
    }
}
