// Warped LPC extraction: frame length and window, silence, the coefficients of known
// processes (an AR(2) process with warp 0, a single impulse with warp > 0, both worked out by
// hand), a double-precision model of the whole analysis written from its definition, the
// output limit, order 80 inside its arrays, and allocation failure at construction.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/AllocationProbe.h"
#include "dsp/WarpedLPCExtraction.h"
#include "DspTestSupport.h"

namespace {

using skvtest::noise;

using Lpc = usp::CWarpedLPCExtraction<float, 256, 60>;

// The analysis in double precision: window, level gate, autocorrelation (warped through the
// allpass y[i] = x[i-1] + λ(y[i-1] - x[i]) or plain), noise floor, regularised
// Levinson-Durbin, output limit. Returns the values before the limit.
std::vector<double> modelReflections(const float* data, int n, int order, double warp)
{
    std::vector<double> x(n);
    double level = 0;
    for (int i = 0; i < n; ++i) {
        const double w = 0.5 - 0.49 * std::cos(2.0 * M_PI * i / n);
        x[i] = data[i] * w;
        level += std::fabs(data[i]);
    }
    std::vector<double> refl(order, 0.0);
    if (!(level > 0))
        return refl;
    std::vector<double> r(order + 1, 0.0);
    double energy = 0;
    for (double v : x)
        energy += v * v;
    if (warp > 0) {
        std::vector<double> y = x;
        auto allpass = [&](std::vector<double>& s) {
            double xp = 0, yp = 0;
            for (int i = 0; i < n; ++i) {
                const double in = s[i];
                double out = xp + warp * (yp - in);
                if (std::fabs(out) < 1e-10)
                    out = 0;
                s[i] = out;
                xp = in;
                yp = out;
            }
        };
        allpass(y);
        if (energy > 1e-10) {
            r[0] = 1;
            for (int j = 1; j <= order; ++j) {
                double s = 0;
                for (int i = 0; i < n; ++i)
                    s += x[i] * y[i];
                r[j] = s / energy;
                allpass(y);
            }
        }
    }
    else if (energy > 0) {
        r[0] = 1;
        for (int j = 1; j <= order; ++j) {
            double s = 0;
            for (int i = 0; i + j < n; ++i)
                s += x[i] * x[i + j];
            r[j] = s / energy;
        }
    }
    r[0] += 0.0007 * order;
    std::vector<double> a(order + 1, 0.0), prev(order + 1, 0.0);
    a[0] = 1;
    double e = r[0];
    for (int i = 0; i < order; ++i) {
        double acc = 0;
        for (int j = 1; j <= i; ++j)
            acc += a[j] * r[i + 1 - j];
        const double k = (r[i + 1] - acc) / (e + 0.003 * r[0]);
        refl[i] = -k;
        prev = a;
        a[i + 1] = k;
        for (int j = 1; j <= i; ++j)
            a[j] = prev[j] - k * prev[i + 1 - j];
        e *= 1 - k * k;
    }
    return refl;
}

}  // namespace

TEST(WarpedLPCExtraction, FrameLengthRequestsAndWindow)
{
    Lpc lpc;
    EXPECT_EQ(lpc.frameLength, 128);
    EXPECT_EQ(lpc.lpcOrder, 30);
    EXPECT_NEAR(lpc.window[0], 0.01f, 1e-7f);
    EXPECT_NEAR(lpc.window[64], 0.99f, 1e-6f);
    for (int i = 0; i < 128; ++i)
        ASSERT_NEAR(lpc.window[i], 0.5 - 0.49 * std::cos(2.0 * M_PI * i / 128.0), 2e-6) << i;

    EXPECT_EQ(lpc.setFrameLength(512), 256);
    EXPECT_EQ(lpc.setFrameLength(256), 256);
    EXPECT_EQ(lpc.frameLength, 128);
    EXPECT_NEAR(lpc.window[64], 0.99f, 1e-6f);

    EXPECT_EQ(lpc.setFrameLength(64), 64);
    EXPECT_EQ(lpc.frameLength, 64);
    EXPECT_NEAR(lpc.window[0], 0.01f, 1e-7f);
    EXPECT_NEAR(lpc.window[16], 0.5f, 1e-6f);
    EXPECT_NEAR(lpc.window[32], 0.99f, 1e-6f);

    // A window needs at least one sample: nothing changes below that.
    EXPECT_EQ(lpc.setFrameLength(0), 64);
    EXPECT_EQ(lpc.setFrameLength(-7), 64);
    EXPECT_EQ(lpc.frameLength, 64);

    // extract asks for 512 samples every time, which leaves the frame as it is.
    std::vector<float> data = noise(512, 1);
    std::vector<float> out(12);
    lpc.extract(data.data(), out.data(), 12, 0.5f);
    EXPECT_EQ(lpc.frameLength, 64);
    EXPECT_EQ(lpc.lpcOrder, 12);
    EXPECT_EQ(lpc.analysisWarp, 0.5f);
    EXPECT_EQ(lpc.process(0.7f), 0.0f);
}

TEST(WarpedLPCExtraction, SilenceGivesZerosAndClearsTheWorkingState)
{
    Lpc lpc;
    std::vector<float> data = noise(512, 2);
    std::vector<float> out(80, 5.0f);
    lpc.extract(data.data(), out.data(), 80, 0.85f);
    std::vector<float> zeros(512, 0.0f);
    for (float warp : {0.0f, 0.85f}) {
        std::fill(out.begin(), out.end(), 5.0f);
        lpc.extract(zeros.data(), out.data(), 80, warp);
        for (int i = 0; i < 80; ++i)
            ASSERT_EQ(out[i], 0.0f) << i;
        EXPECT_EQ(lpc.autocorr[0], 0.0f);
        for (int i = 0; i < 81; ++i)
            ASSERT_EQ(lpc.predictor[i], 0.0) << i;
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(lpc.warpedFrame[i], 0.0f) << i;
    }
    // NaN samples count as silence too (the level sum is not above 0).
    std::vector<float> bad(512, std::numeric_limits<float>::quiet_NaN());
    lpc.extract(bad.data(), out.data(), 20, 0.85f);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(out[i], 0.0f) << i;
}

TEST(WarpedLPCExtraction, ArTwoProcessGivesItsReflectionCoefficients)
{
    // x[n] = φ1 x[n-1] + φ2 x[n-2] + e[n] with poles at radius 0.9, angle π/4. Its
    // autocorrelation gives ρ1 = φ1/(1 - φ2), ρ2 = φ1 ρ1 + φ2, the partial correlations
    // k1 = ρ1 and k2 = φ2; the extraction delivers their negatives. The noise floor and
    // the regularisation shrink them a little; the expectation includes both.
    const double phi1 = 2 * 0.9 * std::cos(M_PI / 4), phi2 = -0.81;
    const double rho1 = phi1 / (1 - phi2), rho2 = phi1 * rho1 + phi2;
    const double r0 = 1 + 0.0007 * 2;
    const double k1 = rho1 / (r0 + 0.003 * r0);
    const double k2 = (rho2 - k1 * rho1) / (r0 * (1 - k1 * k1) + 0.003 * r0);

    Lpc lpc;
    std::mt19937 rng(3);
    std::normal_distribution<double> e(0.0, 0.1);
    double x1 = 0, x2 = 0;
    for (int i = 0; i < 1000; ++i) {
        const double x = phi1 * x1 + phi2 * x2 + e(rng);
        x2 = x1;
        x1 = x;
    }
    const int frames = 400;
    double sum0 = 0, sum1 = 0;
    std::vector<float> frame(512), out(2);
    for (int f = 0; f < frames; ++f) {
        for (float& v : frame) {
            const double x = phi1 * x1 + phi2 * x2 + e(rng);
            x2 = x1;
            x1 = x;
            v = static_cast<float>(x);
        }
        lpc.extract(frame.data(), out.data(), 2, 0.0f);
        EXPECT_NEAR(out[0], -rho1, 0.15) << f;
        EXPECT_NEAR(out[1], -phi2, 0.35) << f;
        sum0 += out[0];
        sum1 += out[1];
    }
    EXPECT_NEAR(sum0 / frames, -k1, 0.03);
    EXPECT_NEAR(sum1 / frames, -k2, 0.03);
    EXPECT_NEAR(sum0 / frames, -rho1, 0.05);
    EXPECT_NEAR(sum1 / frames, -phi2, 0.05);
}

TEST(WarpedLPCExtraction, ImpulseWithWarpGivesTheAllpassCorrelations)
{
    // One impulse: its j-fold allpass response at the impulse itself is (-λ)^j, so r[j] is
    // (-λ)^j exactly (nothing of it is cut by the frame end). For order 2 the recursion is
    // short enough to write out.
    const double lambda = 0.5;
    Lpc lpc;
    std::vector<float> data(512, 0.0f);
    data[64] = 0.8f;
    std::vector<float> out(2);
    lpc.extract(data.data(), out.data(), 2, static_cast<float>(lambda));
    const double r0 = 1 + 0.0007 * 2, r1 = -lambda, r2 = lambda * lambda;
    const double k1 = r1 / (r0 + 0.003 * r0);
    const double e1 = r0 * (1 - k1 * k1);
    const double k2 = (r2 - k1 * r1) / (e1 + 0.003 * r0);
    EXPECT_NEAR(out[0], -k1, 1e-6);
    EXPECT_NEAR(out[1], -k2, 1e-6);

    // The same frame through the plain path: no correlation at any lag.
    lpc.extract(data.data(), out.data(), 2, 0.0f);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
}

TEST(WarpedLPCExtraction, WarpAboveZeroTakesTheWarpedPath)
{
    Lpc lpc;
    std::vector<float> data = noise(512, 4);
    std::vector<float> plain(10), warped(10), negative(10);
    lpc.extract(data.data(), plain.data(), 10, 0.0f);
    lpc.extract(data.data(), warped.data(), 10, 0.5f);
    lpc.extract(data.data(), negative.data(), 10, -0.5f);
    int differ = 0;
    for (int i = 0; i < 10; ++i) {
        differ += plain[i] != warped[i];
        EXPECT_EQ(negative[i], plain[i]) << i;  // warp <= 0 is the plain path
    }
    EXPECT_GE(differ, 9);
}

TEST(WarpedLPCExtraction, MatchesTheDoubleModelAtEveryOrderAndWarp)
{
    for (unsigned seed = 0; seed < 6; ++seed) {
        std::vector<float> data = noise(512, 10 + seed);
        // Colour half of the frames so that the coefficients are far from zero.
        if (seed % 2)
            for (int i = 2; i < 512; ++i)
                data[i] += 1.6f * data[i - 1] - 0.8f * data[i - 2];
        for (int order : {1, 2, 12, 40, 80}) {
            for (float warp : {0.0f, 0.3f, 0.85f}) {
                SCOPED_TRACE(::testing::Message()
                             << "seed " << seed << " order " << order << " warp " << warp);
                Lpc lpc;
                std::vector<float> out(order);
                lpc.extract(data.data(), out.data(), order, warp);
                const std::vector<double> model = modelReflections(data.data(), 128, order, warp);
                for (int i = 0; i < order; ++i) {
                    ASSERT_LT(std::fabs(model[i]), 1.0) << i;
                    ASSERT_NEAR(out[i], model[i], 2e-4) << i;
                }
            }
        }
    }
}

TEST(WarpedLPCExtraction, ValuesOutsideTheUnitIntervalBecomeAHundredth)
{
    EXPECT_EQ(Lpc::limitCoefficient(1.2), 0.01f);
    EXPECT_EQ(Lpc::limitCoefficient(-3.0), -0.01f);
    EXPECT_EQ(Lpc::limitCoefficient(1.0), 0.01f);
    EXPECT_EQ(Lpc::limitCoefficient(-1.0), -0.01f);
    EXPECT_EQ(Lpc::limitCoefficient(0.999999999), 0.01f);  // rounds to 1 as a float
    EXPECT_EQ(Lpc::limitCoefficient(0.5), 0.5f);
    EXPECT_EQ(Lpc::limitCoefficient(-0.99), -0.99f);
    EXPECT_EQ(Lpc::limitCoefficient(std::numeric_limits<double>::quiet_NaN()), 0.01f);
    EXPECT_EQ(Lpc::limitCoefficient(-std::numeric_limits<double>::infinity()), -0.01f);

    // A frame with an infinite sample defeats the recursion: every value is replaced.
    Lpc lpc;
    std::vector<float> data = noise(512, 5);
    data[40] = std::numeric_limits<float>::infinity();
    for (float warp : {0.0f, 0.85f}) {
        std::vector<float> out(16);
        lpc.extract(data.data(), out.data(), 16, warp);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(std::fabs(out[i]), 0.01f) << i;
    }
}

TEST(WarpedLPCExtraction, OrderEightyStaysInsideItsArrays)
{
    ASSERT_GE(Lpc::kMaxOrder, 80);
    Lpc lpc;
    // Exactly as many samples as the frame holds, and no more (the sanitizer build checks
    // every access); a frame length that is not a multiple of four reads no sample past it.
    for (int frame : {128, 127, 5}) {
        SCOPED_TRACE(frame);
        lpc.setFrameLength(frame);
        std::unique_ptr<float[]> data(new float[static_cast<std::size_t>(frame)]);
        std::mt19937 rng(6);
        std::uniform_real_distribution<float> d(-1.0f, 1.0f);
        for (int i = 0; i < frame; ++i)
            data[i] = d(rng);
        for (float warp : {0.0f, 0.85f}) {
            std::vector<float> out(84, 7.0f);
            lpc.extract(data.get(), out.data(), 80, warp);
            for (int i = 0; i < 80; ++i)
                ASSERT_TRUE(std::isfinite(out[i]) && std::fabs(out[i]) < 1.0f) << i;
            for (int i = 80; i < 84; ++i)
                ASSERT_EQ(out[i], 7.0f) << i;
        }
    }
    // Past the largest order the extra values are zeros.
    lpc.setFrameLength(128);
    std::vector<float> data = noise(128, 7);
    std::vector<float> out(90, 7.0f);
    lpc.extract(data.data(), out.data(), 85, 0.85f);
    for (int i = Lpc::kMaxOrder; i < 85; ++i)
        EXPECT_EQ(out[i], 0.0f) << i;
    EXPECT_EQ(out[85], 7.0f);
    // Nothing at all for an order of 0 or below.
    std::fill(out.begin(), out.end(), 7.0f);
    lpc.extract(data.data(), out.data(), 0, 0.5f);
    lpc.extract(data.data(), out.data(), -4, 0.5f);
    EXPECT_EQ(out[0], 7.0f);
}

TEST(WarpedLPCExtraction, AllocationFailureThrowsTheAllocationError)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    for (int which = 1; which <= 4; ++which) {
        SCOPED_TRACE(which);
        skvtest::failAlignedNoThrowAllocation(which);
        try {
            Lpc lpc;
            ADD_FAILURE() << "construction succeeded";
        }
        catch (const std::bad_alloc& e) {
            EXPECT_EQ(std::string(e.what()), "Memory allocation failure");
        }
        skvtest::failAlignedNoThrowAllocation(0);
    }
    Lpc fine;  // and without the failure the unit comes up as usual
    EXPECT_EQ(fine.frameLength, 128);
}
