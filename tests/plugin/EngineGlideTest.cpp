// The engine's two-lane glide of both lattices against two single glides of the lattice class
// itself: every coefficient, the warp, the scale, the warp complement and the gain must come
// out bit-identical, step after step, at every order and for hostile targets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "dsp/UnitWIIRLattice.h"
#include "plugin/EngineGlide.h"

namespace {

using Lattice = usp::CUnitWIIRLattice<float, 81>;

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expectSame(const Lattice& a, const Lattice& b) {
    ASSERT_EQ(a.order, b.order);
    for (int i = 0; i < a.count; ++i) ASSERT_TRUE(sameBits(a.coeffs[i], b.coeffs[i])) << i;
    EXPECT_TRUE(sameBits(a.warp, b.warp));
    EXPECT_TRUE(sameBits(a.coeffScale, b.coeffScale));
    EXPECT_TRUE(sameBits(a.warpComplement, b.warpComplement));
    EXPECT_TRUE(sameBits(a.gain, b.gain));
}

// One lattice set up from a seed: order, smoothing, targets, coefficients and warp.
void setUp(Lattice& l, int order, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> unit(-0.95f, 0.95f);
    l.setOrder(order);
    float v[81];
    for (float& x : v) x = unit(gen);
    l.setCoefficients(v, 81);
    for (float& x : v) x = unit(gen);
    l.setTargetCoefficients(v, 81);
    l.smoothing = std::uniform_real_distribution<float>(0.0f, 1.0f)(gen);
    l.warp = unit(gen);
    l.coeffScale = unit(gen);
}

}  // namespace

TEST(EngineGlide, PairMatchesTwoSingleGlides) {
    for (int order : {2, 3, 12, 18, 41, 80, 81}) {
        SCOPED_TRACE(order);
        Lattice pairL, pairR, singleL, singleR;
        setUp(pairL, order, 1u + order);
        setUp(singleL, order, 1u + order);
        setUp(pairR, order, 100u + order);
        setUp(singleR, order, 100u + order);
        std::mt19937 gen(7u * order);
        std::uniform_real_distribution<float> target(-1.2f, 1.2f);
        for (int step = 0; step < 50; ++step) {
            const float wl = target(gen), sl = target(gen), wr = target(gen), sr = target(gen);
            skv::glideLatticePair(pairL, pairR, wl, sl, wr, sr);
            singleR.glideCoefficients(wr, sr);
            singleL.glideCoefficients(wl, sl);
            expectSame(pairL, singleL);
            expectSame(pairR, singleR);
        }
    }
}

TEST(EngineGlide, HostileTargetsAndTinyWarps) {
    Lattice pairL, pairR, singleL, singleR;
    for (Lattice* l : {&pairL, &pairR, &singleL, &singleR}) setUp(*l, 80, 5);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float targets[][4] = {{nan, nan, 0.5f, 0.5f}, {inf, -inf, -inf, inf}, {1e-12f, 0.3f, -1e-12f, -0.3f},
                                {0.0f, 0.0f, 0.0f, 0.0f}, {0.99999f, 1.0f, -0.99999f, -1.0f}};
    for (const auto& t : targets) {
        skv::glideLatticePair(pairL, pairR, t[0], t[1], t[2], t[3]);
        singleR.glideCoefficients(t[2], t[3]);
        singleL.glideCoefficients(t[0], t[1]);
        expectSame(pairL, singleL);
        expectSame(pairR, singleR);
    }
}

TEST(EngineGlide, DifferentOrdersGlideOneAfterTheOther) {
    Lattice pairL, pairR, singleL, singleR;
    setUp(pairL, 20, 3);
    setUp(singleL, 20, 3);
    setUp(pairR, 21, 4);
    setUp(singleR, 21, 4);
    skv::glideLatticePair(pairL, pairR, 0.4f, 0.6f, 0.7f, 0.2f);
    singleR.glideCoefficients(0.7f, 0.2f);
    singleL.glideCoefficients(0.4f, 0.6f);
    expectSame(pairL, singleL);
    expectSame(pairR, singleR);
}
