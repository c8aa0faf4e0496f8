// Warped lattice filters: order clamping and resizing, the target and coefficient setters,
// one glide step against its formulas, transparency at the coefficient floor, the λ = 0 case
// against a direct-form all-pole filter built by the step-up recursion in double precision,
// stability of random lattices, reset, the output flush and the lock.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "dsp/UnitWIIRLattice.h"
#include "DspTestSupport.h"

namespace {

using skvtest::bitsOf;

using Lattice = usp::CUnitWIIRLattice<float, 81>;

// The abstract base with a do-nothing process, to see its own setOrder (no glide step) and
// its input scale of +1.
struct PlainLattice : usp::CUnitWarpedLatticeBase<float, 81> {
    float process(float) override { return 0.0f; }
};

std::vector<float> randomValues(std::mt19937& rng, int n, float limit)
{
    return skvtest::randomValues(rng, n, -limit, limit);
}

// Glides the warp to exactly 0 with the coefficients frozen (smoothing 1 keeps k as it is).
void settleWarpAtZero(Lattice& lat)
{
    const float keep = lat.smoothing;
    lat.smoothing = 1.0f;
    for (int i = 0; i < 2000 && lat.warp != 0.0f; ++i)
        lat.glideCoefficients(0.0f, lat.coeffScale);
    lat.smoothing = keep;
}

// All-pole filter 1/A(z) in direct form, A from the lattice's reflection values by the
// step-up recursion. With λ = 0 the recursion is an analysis lattice run backwards on y:
// forward wave e_0 = y, backward wave ε_0 = κ_0·y, and for m >= 1
// e_m = e_(m-1) + κ_m·ε_(m-1)[n-1], ε_m = ε_(m-1)[n-1] + κ_m·e_(m-1), with κ_m = -k[m];
// the prediction makes e_(N-1) = x. Hence A_0 = 1, B_0 = κ_0 and
// A_m = A_(m-1) + κ_m z^-1 B_(m-1), B_m = z^-1 B_(m-1) + κ_m A_(m-1).
std::vector<double> directFormFromReflections(const float* k, int order)
{
    std::vector<double> a(1, 1.0), b(1, -static_cast<double>(k[0]));
    for (int m = 1; m < order; ++m) {
        const double kappa = -static_cast<double>(k[m]);
        std::vector<double> na(a.size() + 1, 0.0), nb(a.size() + 1, 0.0);
        for (std::size_t i = 0; i < a.size(); ++i) {
            na[i] += a[i];
            na[i + 1] += kappa * b[i];
            nb[i + 1] += b[i];
            nb[i] += kappa * a[i];
        }
        a.swap(na);
        b.swap(nb);
    }
    return a;
}

struct DirectForm {
    std::vector<double> a;
    std::vector<double> past;  // y[n-1], y[n-2], ...
    explicit DirectForm(std::vector<double> coeffs) : a(std::move(coeffs)), past(a.size(), 0.0) {}
    double step(double x)
    {
        double y = x;
        for (std::size_t i = 1; i < a.size(); ++i)
            y -= a[i] * past[i - 1];
        for (std::size_t i = past.size() - 1; i > 0; --i)
            past[i] = past[i - 1];
        past[0] = y;
        return y;
    }
};

}  // namespace

TEST(Lattice, OrderIsClampedToTwoAnd81)
{
    Lattice lat;
    EXPECT_EQ(lat.order, 2);
    lat.setOrder(1);
    EXPECT_EQ(lat.order, 2);
    EXPECT_EQ(lat.count, 3);
    lat.setOrder(-50);
    EXPECT_EQ(lat.order, 2);
    lat.setOrder(200);
    EXPECT_EQ(lat.order, 81);
    EXPECT_EQ(lat.count, 82);
    lat.setOrder(81);
    EXPECT_EQ(lat.order, 81);
}

TEST(Lattice, SameOrderTakesNoGlideStep)
{
    std::mt19937 rng(1);
    Lattice lat;
    lat.setOrder(12);
    const std::vector<float> v = randomValues(rng, 80, 0.9f);
    lat.setTargetCoefficients(v.data(), 80);
    lat.glideCoefficients(0.5f, 0.9f);
    std::vector<float> before(lat.coeffs, lat.coeffs + lat.count);
    const float gain = lat.gain;
    lat.setOrder(12);
    for (int j = 0; j < lat.count; ++j)
        EXPECT_EQ(bitsOf(lat.coeffs[j]), bitsOf(before[j])) << j;
    EXPECT_EQ(lat.gain, gain);
}

TEST(Lattice, ArraysShareOneAlignedBlockInGroupsOfFour)
{
    Lattice lat;
    for (int order : {2, 3, 7, 12, 40, 80, 81}) {
        lat.setOrder(order);
        const std::ptrdiff_t n = (lat.count + 3) & ~3;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(lat.arrayBlock) % 32, 0u) << order;
        EXPECT_EQ(lat.targetCoeffs, lat.arrayBlock) << order;
        EXPECT_EQ(lat.coeffs - lat.arrayBlock, n) << order;
        EXPECT_EQ(lat.stateA - lat.arrayBlock, 2 * n) << order;
        EXPECT_EQ(lat.stateB - lat.arrayBlock, 3 * n) << order;
    }
}

TEST(Lattice, ResizingKeepsLeadingEntriesAndStartsNewOnesAtTheFloor)
{
    std::mt19937 rng(2);
    PlainLattice lat;
    lat.setOrder(10);
    const std::vector<float> v = randomValues(rng, 11, 0.9f);
    const std::vector<float> s = randomValues(rng, 11, 0.9f);
    lat.setCoefficients(v.data(), 11);
    lat.setTargetCoefficients(s.data(), 11);
    for (int j = 0; j < 11; ++j) {
        lat.stateA[j] = 0.01f * static_cast<float>(j + 1);
        lat.stateB[j] = -0.02f * static_cast<float>(j + 1);
    }

    lat.setOrder(20);
    ASSERT_EQ(lat.count, 21);
    for (int j = 0; j < 11; ++j) {
        EXPECT_EQ(lat.coeffs[j], v[j]) << j;
        EXPECT_EQ(lat.targetCoeffs[j], s[j]) << j;
        EXPECT_EQ(lat.stateA[j], 0.01f * static_cast<float>(j + 1)) << j;
        EXPECT_EQ(lat.stateB[j], -0.02f * static_cast<float>(j + 1)) << j;
    }
    for (int j = 11; j < 21; ++j) {
        EXPECT_EQ(lat.coeffs[j], 1e-7f) << j;
        EXPECT_EQ(lat.targetCoeffs[j], 1e-7f) << j;
        EXPECT_EQ(lat.stateA[j], 0.0f) << j;
        EXPECT_EQ(lat.stateB[j], 0.0f) << j;
    }

    lat.setOrder(4);
    ASSERT_EQ(lat.count, 5);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(lat.coeffs[j], v[j]) << j;
        EXPECT_EQ(lat.targetCoeffs[j], s[j]) << j;
        EXPECT_EQ(lat.stateA[j], 0.01f * static_cast<float>(j + 1)) << j;
    }
    // Growing again does not bring back what the shrink dropped.
    lat.setOrder(8);
    for (int j = 5; j < 9; ++j) {
        EXPECT_EQ(lat.coeffs[j], 1e-7f) << j;
        EXPECT_EQ(lat.stateA[j], 0.0f) << j;
    }
}

TEST(Lattice, ResizingTheWIIRLatticeTakesOneGlideStep)
{
    std::mt19937 rng(3);
    Lattice lat;
    lat.setOrder(10);
    lat.smoothing = 0.8f;
    const std::vector<float> v = randomValues(rng, 80, 0.9f);
    lat.setTargetCoefficients(v.data(), 80);
    lat.glideCoefficients(0.3f, 0.9f);
    const std::vector<float> k(lat.coeffs, lat.coeffs + lat.count);
    const double e = lat.smoothing, b = lat.coeffScale;
    const float warp = lat.warp;

    lat.setOrder(14);
    // Warp and scale stay put; each coefficient takes one step towards b·s.
    EXPECT_EQ(lat.warp, warp);
    EXPECT_EQ(lat.coeffScale, static_cast<float>(b));
    for (int j = 0; j < 14; ++j) {
        const double s = j < 11 ? -static_cast<double>(v[j]) : 1e-7;
        const double k0 = j < 11 ? static_cast<double>(k[j]) : 1e-7;
        EXPECT_NEAR(lat.coeffs[j], e * k0 + (1 - e) * b * s, 1e-6) << j;
    }
}

TEST(Lattice, TargetSetterRules)
{
    Lattice wiir;
    PlainLattice plain;
    for (usp::CUnitWarpedLatticeBase<float, 81>* lat :
         std::initializer_list<usp::CUnitWarpedLatticeBase<float, 81>*>{&wiir, &plain}) {
        lat->setOrder(9);
        const float before = 0.25f;
        std::vector<float> seed(10, before);
        lat->setTargetCoefficients(seed.data(), 10);
        const float scale = lat == &wiir ? -1.0f : 1.0f;
        const float v[9] = {1.0f, -1.0f, 5e-10f, -5e-10f, 0.5f, -0.3f, 0.999f, std::nanf(""), 3.0f};
        lat->setTargetCoefficients(v, 9);
        EXPECT_EQ(lat->targetCoeffs[0], scale * before);  // exactly 1: unchanged
        EXPECT_EQ(lat->targetCoeffs[1], scale * before);  // exactly -1: unchanged
        EXPECT_EQ(lat->targetCoeffs[2], 1e-7f);
        EXPECT_EQ(lat->targetCoeffs[3], 1e-7f);
        EXPECT_EQ(lat->targetCoeffs[4], scale * 0.5f);
        EXPECT_EQ(lat->targetCoeffs[5], scale * -0.3f);
        EXPECT_EQ(lat->targetCoeffs[6], scale * 0.999f);
        EXPECT_EQ(lat->targetCoeffs[7], scale * before);  // NaN: unchanged
        EXPECT_EQ(lat->targetCoeffs[8], scale * before);
        EXPECT_EQ(lat->targetCoeffs[9], scale * before);  // beyond n: unchanged

        // More values than the arrays hold: only count entries are read.
        std::vector<float> many(200, 0.1f);
        lat->setTargetCoefficients(many.data(), 200);
        for (int j = 0; j < lat->count; ++j)
            EXPECT_EQ(lat->targetCoeffs[j], scale * 0.1f) << j;
        lat->setTargetCoefficients(nullptr, 5);
        lat->setTargetCoefficients(many.data(), -3);
        EXPECT_EQ(lat->targetCoeffs[0], scale * 0.1f);
    }
}

TEST(Lattice, ImmediateSetLeavesTheGlideNothingToDoAndRefreshesTheGain)
{
    Lattice lat;
    lat.setOrder(4);
    settleWarpAtZero(lat);
    lat.glideCoefficients(0.5f, lat.coeffScale);
    const float v[5] = {0.5f, -0.25f, 2e-10f, 1.5f, 0.125f};
    const float k3 = lat.coeffs[3];
    lat.setCoefficients(v, 5);
    EXPECT_EQ(lat.coeffs[0], -0.5f);
    EXPECT_EQ(lat.coeffs[1], 0.25f);
    EXPECT_EQ(lat.coeffs[2], 1e-7f);
    EXPECT_EQ(lat.coeffs[3], k3);  // a magnitude of 1 or more would make the filter unstable
    EXPECT_EQ(lat.coeffs[4], -0.125f);
    for (int j : {0, 1, 2, 4})
        EXPECT_EQ(lat.targetCoeffs[j], lat.coeffs[j]) << j;

    // G from its definition, for the coefficients and warp now in force.
    const double lambda = lat.warp;
    double f = -lambda, g = 1, sum = 0;
    for (int j = 0; j < lat.order; ++j) {
        const double k = lat.coeffs[j];
        sum += f * k;
        const double nf = -lambda * (f - k * g);
        g = g - f * k;
        f = nf;
    }
    EXPECT_NEAR(lat.gain, 1.0 / (1.0 - sum), 1e-6);
    EXPECT_NEAR(lat.warpComplement, 1.0 - lambda * lambda, 1e-7);
}

TEST(Lattice, RotatedTargetsStartHalfWayAndWrap)
{
    Lattice lat;
    lat.setOrder(81);
    std::vector<float> v(80);
    for (int i = 0; i < 80; ++i)
        v[i] = 0.01f * static_cast<float>(i + 1);
    lat.setCoefficientsAt(v.data(), 80, 0.5f);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(lat.targetCoeffs[i], -v[40 + i]) << i;
    for (int i = 40; i < 80; ++i)
        EXPECT_EQ(lat.targetCoeffs[i], -v[i - 40]) << i;
    EXPECT_EQ(lat.targetCoeffs[80], 1e-7f);  // only n values are read

    // Position is clamped to [0, 1]; both ends start at value 0; 0.26·80 = 20.8 rounds to 21.
    for (float pos : {-3.0f, 0.0f, 1.0f, 7.0f, std::nanf("")}) {
        lat.setCoefficientsAt(v.data(), 80, pos);
        EXPECT_EQ(lat.targetCoeffs[0], -v[0]) << pos;
        EXPECT_EQ(lat.targetCoeffs[79], -v[79]) << pos;
    }
    lat.setCoefficientsAt(v.data(), 80, 0.26f);
    EXPECT_EQ(lat.targetCoeffs[0], -v[21]);
    EXPECT_EQ(lat.targetCoeffs[58], -v[79]);
    EXPECT_EQ(lat.targetCoeffs[59], -v[0]);
}

TEST(Lattice, OneGlideStepFollowsItsFormulas)
{
    std::mt19937 rng(4);
    Lattice lat;
    lat.setOrder(30);
    lat.smoothing = 0.7f;
    const std::vector<float> v = randomValues(rng, 80, 0.95f);
    lat.setTargetCoefficients(v.data(), 80);
    for (int i = 0; i < 3; ++i)
        lat.glideCoefficients(0.8f, 0.9f);
    const double warp0 = lat.warp, scale0 = lat.coeffScale, e = lat.smoothing;
    const std::vector<float> k0(lat.coeffs, lat.coeffs + lat.count);

    lat.glideCoefficients(0.2f, 0.6f);
    const double lambda = 0.2 + 0.95 * (warp0 - 0.2);
    const double b = 0.6 + 0.95 * (scale0 - 0.6);
    EXPECT_NEAR(lat.warp, lambda, 1e-7);
    EXPECT_NEAR(lat.coeffScale, b, 1e-7);
    EXPECT_NEAR(lat.warpComplement, 1 - lambda * lambda, 1e-6);
    double f = -lambda, g = 1, sum = 0;
    for (int j = 0; j < 30; ++j) {
        const double k = e * k0[j] + (1 - e) * b * -static_cast<double>(v[j]);
        EXPECT_NEAR(lat.coeffs[j], k, 1e-6) << j;
        sum += f * k;
        const double nf = -lambda * (f - k * g);
        g = g - f * k;
        f = nf;
    }
    EXPECT_NEAR(lat.gain, 1 / (1 - sum), 1e-5 * std::fabs(1 / (1 - sum)));
    // Entry `order` takes no part.
    EXPECT_EQ(lat.coeffs[30], k0[30]);
}

TEST(Lattice, TinyWarpBecomesZeroAndHostileGlideTargetsAreHeld)
{
    Lattice lat;
    settleWarpAtZero(lat);
    EXPECT_EQ(lat.warp, 0.0f);
    EXPECT_EQ(lat.warpComplement, 1.0f);
    EXPECT_NEAR(lat.gain, 1.0f, 1e-12f);

    lat.glideCoefficients(std::nanf(""), std::nanf(""));
    EXPECT_EQ(lat.warp, 0.0f);
    EXPECT_TRUE(std::isfinite(lat.coeffScale));
    for (int i = 0; i < 500; ++i)
        lat.glideCoefficients(50.0f, -9.0f);
    EXPECT_LT(lat.warp, 1.0f);
    EXPECT_GE(lat.coeffScale, -1.0f);
    EXPECT_TRUE(std::isfinite(lat.gain));
}

TEST(Lattice, FloorCoefficientsAreTransparent)
{
    std::mt19937 rng(5);
    Lattice lat;
    lat.setOrder(80);
    lat.glideCoefficients(0.6f, 0.9f);
    EXPECT_NEAR(lat.gain, 1.0f, 1e-6f);
    const std::vector<float> x = randomValues(rng, 2000, 1.0f);
    for (float v : x)
        ASSERT_NEAR(lat.process(v), v, 1e-5f);
}

TEST(Lattice, WithoutWarpItIsTheDirectFormAllPoleFilter)
{
    std::mt19937 rng(6);
    for (int order : {2, 3, 5, 12, 33, 80, 81}) {
        SCOPED_TRACE(::testing::Message() << "order " << order);
        Lattice lat;
        lat.setOrder(order);
        const std::vector<float> v = randomValues(rng, 81, 0.7f);
        lat.setCoefficients(v.data(), 81);
        settleWarpAtZero(lat);
        ASSERT_EQ(lat.warp, 0.0f);
        EXPECT_EQ(lat.gain, 1.0f);
        EXPECT_EQ(lat.warpComplement, 1.0f);
        for (int j = 0; j < lat.count; ++j)
            ASSERT_EQ(lat.coeffs[j], j < 81 ? -v[j] : 1e-7f);

        DirectForm ref(directFormFromReflections(lat.coeffs, order));
        ASSERT_EQ(static_cast<int>(ref.a.size()), order);  // N - 1 delays
        const std::vector<float> x = randomValues(rng, 3000, 0.5f);
        double peak = 0, worst = 0;
        for (const float in : x) {
            const double expected = ref.step(in);
            const double got = lat.process(in);
            peak = std::max(peak, std::fabs(expected));
            worst = std::max(worst, std::fabs(got - expected));
        }
        // Float against double on a resonant filter (gains in the hundreds at order 81).
        EXPECT_LT(worst, 1e-4 * peak);
        // The impulse response too, from silence.
        lat.clearState();
        DirectForm imp(directFormFromReflections(lat.coeffs, order));
        double impPeak = 0, impWorst = 0;
        for (int i = 0; i < 400; ++i) {
            const double in = i == 0 ? 1.0 : 0.0;
            const double expected = imp.step(in);
            impPeak = std::max(impPeak, std::fabs(expected));
            const double got = lat.process(static_cast<float>(in));
            impWorst = std::max(impWorst, std::fabs(got - expected));
        }
        EXPECT_GE(impPeak, 1.0);
        EXPECT_LT(impWorst, 1e-4 * impPeak);
    }
}

TEST(Lattice, RandomLatticesDecay)
{
    // Every |k| < 1 gives a stable lattice for every |λ| < 1 (each stage maps the unit disc
    // into itself). Near λ = 0.99 the low frequencies ring for a very long time, so the test
    // asks for a response that stays finite and keeps shrinking, window after window.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> orderDist(2, 81);
    std::uniform_real_distribution<float> warpDist(0.0f, 0.99f);
    for (int trial = 0; trial < 24; ++trial) {
        const int order = orderDist(rng);
        const float warp = trial < 4 ? 0.99f : warpDist(rng);
        SCOPED_TRACE(::testing::Message() << "order " << order << " warp " << warp);
        Lattice lat;
        lat.setOrder(order);
        lat.smoothing = 0.0f;  // coefficients jump to b·s
        const std::vector<float> v = randomValues(rng, 80, 0.95f);
        lat.setTargetCoefficients(v.data(), 80);
        for (int i = 0; i < 400; ++i)
            lat.glideCoefficients(warp, 0.99f);
        ASSERT_NEAR(lat.warp, warp, 1e-5f);
        constexpr int kWindow = 10000;
        constexpr int kWindows = 10;
        double peak[kWindows] = {};
        for (int i = 0; i < kWindow * kWindows; ++i) {
            const float y = lat.process(i == 0 ? 1.0f : 0.0f);
            ASSERT_TRUE(std::isfinite(y)) << i;
            peak[i / kWindow] = std::max(peak[i / kWindow], static_cast<double>(std::fabs(y)));
        }
        ASSERT_GT(peak[0], 0.0);
        // No window exceeds the ones before it (slow beats between close resonances may make
        // one window louder than its neighbour, never louder than the start).
        double runningMax = peak[1];
        for (int w = 2; w < kWindows; ++w) {
            EXPECT_LE(peak[w], runningMax) << "window " << w;
            runningMax = std::max(runningMax, peak[w]);
        }
        EXPECT_LT(peak[kWindows - 1], 0.25 * peak[0]);
    }
}

TEST(Lattice, TinyOutputIsFlushedButReachesTheState)
{
    Lattice lat;
    lat.setOrder(6);
    const float y = lat.process(4e-11f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(lat.output, 0.0f);
    const float* q = lat.pingPong ? lat.stateA : lat.stateB;  // read next, written just now
    bool any = false;
    for (int j = 1; j < lat.count; ++j)
        any = any || q[j] != 0.0f;
    EXPECT_TRUE(any);
    // A normal output passes unchanged and the ping-pong flips every sample.
    const bool pp = lat.pingPong;
    const float off = lat.denormalOffset;
    EXPECT_NE(lat.process(0.5f), 0.0f);
    EXPECT_NE(lat.pingPong, pp);
    EXPECT_EQ(lat.denormalOffset, -off);
}

TEST(Lattice, ResetRestoresTheStartingFilter)
{
    std::mt19937 rng(8);
    Lattice lat;
    lat.setOrder(20);
    const std::vector<float> v = randomValues(rng, 80, 0.9f);
    lat.setTargetCoefficients(v.data(), 80);
    for (int i = 0; i < 50; ++i)
        lat.glideCoefficients(0.7f, 0.95f);
    for (int i = 0; i < 100; ++i)
        lat.process(0.3f);
    lat.coeffScale = 1.5f;
    lat.reset();
    EXPECT_EQ(lat.output, 0.0f);
    EXPECT_EQ(lat.warp, 1e-7f);
    EXPECT_EQ(lat.coeffScale, 0.9f);
    EXPECT_EQ(lat.order, 20);
    // The derived values follow the reset coefficients at once: practically transparent.
    EXPECT_NEAR(lat.gain, 1.0f, 1e-6f);
    EXPECT_NEAR(lat.warpComplement, 1.0f, 1e-6f);
    for (int j = 0; j < lat.count; ++j) {
        EXPECT_EQ(lat.stateA[j], 0.0f) << j;
        EXPECT_EQ(lat.stateB[j], 0.0f) << j;
        EXPECT_EQ(lat.coeffs[j], 1e-7f) << j;
        EXPECT_EQ(lat.targetCoeffs[j], 1e-7f) << j;
    }
    // A scale inside the unit interval survives a reset.
    lat.coeffScale = -0.4f;
    lat.reset();
    EXPECT_EQ(lat.coeffScale, -0.4f);
    // initialize() is a reset.
    lat.process(0.8f);
    lat.initialize();
    EXPECT_EQ(lat.output, 0.0f);
}

TEST(Lattice, ConstructionDefaults)
{
    Lattice lat;
    EXPECT_EQ(lat.order, 2);
    EXPECT_EQ(lat.inputScale, -1.0f);
    EXPECT_EQ(lat.sampleRate, 44100.0f);
    EXPECT_EQ(lat.denormalOffset, 1e-10f);
    EXPECT_FLOAT_EQ(lat.pi, 3.14159265f);
    // A half-life of 0.2 s at one glide step per sample.
    EXPECT_NEAR(lat.smoothing, std::pow(0.5, 1.0 / 8820.0), 1e-7);
    EXPECT_NEAR(std::pow(static_cast<double>(lat.smoothing), 8820.0), 0.5, 1e-3);
    for (int j = 0; j < lat.count; ++j)
        EXPECT_EQ(lat.targetCoeffs[j], 1e-7f);
}

TEST(Lattice, SettersWaitForTheLockButProcessDoesNot)
{
    Lattice lat;
    lat.setOrder(10);
    std::unique_lock<std::recursive_mutex> held(lat.lock);

    // The lock is recursive: the holder may call setters.
    lat.setOrder(12);
    EXPECT_EQ(lat.order, 12);

    // process() from another thread runs while the lock is held.
    auto processed = std::async(std::launch::async, [&] { return lat.process(0.25f); });
    ASSERT_EQ(processed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(std::isfinite(processed.get()));

    // A setter from another thread waits until the lock is released.
    std::atomic<bool> done{false};
    std::thread setter([&] {
        lat.setOrder(40);
        done.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    held.unlock();
    setter.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(lat.order, 40);
}
