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

bool sameBits(float a, float b)
{
    // Bits, not values: -0 against +0 or two NaNs must count as a change.
    return std::memcmp(&a, &b, sizeof a) == 0;  // NOLINT(bugprone-suspicious-memory-comparison)
}

void expectSame(const Lattice& a, const Lattice& b)
{
    ASSERT_EQ(a.order, b.order);
    for (int i = 0; i < a.count; ++i)
        ASSERT_TRUE(sameBits(a.coeffs[i], b.coeffs[i])) << i;
    EXPECT_TRUE(sameBits(a.warp, b.warp));
    EXPECT_TRUE(sameBits(a.coeffScale, b.coeffScale));
    EXPECT_TRUE(sameBits(a.warpComplement, b.warpComplement));
    EXPECT_TRUE(sameBits(a.gain, b.gain));
}

// One lattice set up from a seed: order, smoothing, targets, coefficients and warp.
void setUp(Lattice& l, int order, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> unit(-0.95f, 0.95f);
    l.setOrder(order);
    float v[81];
    for (float& x : v)
        x = unit(gen);
    l.setCoefficients(v, 81);
    for (float& x : v)
        x = unit(gen);
    l.setTargetCoefficients(v, 81);
    l.smoothing = std::uniform_real_distribution<float>(0.0f, 1.0f)(gen);
    l.warp = unit(gen);
    l.coeffScale = unit(gen);
}

// One glide of the pair against glideCoefficients of the single lattices (right first, as
// the pair takes them when it cannot run them together), then all four compared.
void glideBoth(Lattice& pairL, Lattice& pairR, Lattice& singleL, Lattice& singleR, float wl,
               float sl, float wr, float sr)
{
    skv::glideLatticePair(pairL, pairR, wl, sl, wr, sr);
    singleR.glideCoefficients(wr, sr);
    singleL.glideCoefficients(wl, sl);
    expectSame(pairL, singleL);
    expectSame(pairR, singleR);
}

}  // namespace

TEST(EngineGlide, PairMatchesTwoSingleGlides)
{
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
            glideBoth(pairL, pairR, singleL, singleR, wl, sl, wr, sr);
        }
    }
}

TEST(EngineGlide, HostileTargetsAndTinyWarps)
{
    Lattice pairL, pairR, singleL, singleR;
    for (Lattice* l : {&pairL, &pairR, &singleL, &singleR})
        setUp(*l, 80, 5);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float targets[][4] = {{nan, nan, 0.5f, 0.5f},
                                {inf, -inf, -inf, inf},
                                {1e-12f, 0.3f, -1e-12f, -0.3f},
                                {0.0f, 0.0f, 0.0f, 0.0f},
                                {0.99999f, 1.0f, -0.99999f, -1.0f}};
    for (const auto& t : targets)
        glideBoth(pairL, pairR, singleL, singleR, t[0], t[1], t[2], t[3]);
}

TEST(EngineGlide, DifferentOrdersGlideOneAfterTheOther)
{
    Lattice pairL, pairR, singleL, singleR;
    setUp(pairL, 20, 3);
    setUp(singleL, 20, 3);
    setUp(pairR, 21, 4);
    setUp(singleR, 21, 4);
    glideBoth(pairL, pairR, singleL, singleR, 0.4f, 0.6f, 0.7f, 0.2f);
}

TEST(EngineGlide, PreparedPredictionGivesTheSameAudioAsTheKernelsOwn)
{
    // Glide with the prediction prepared, then the stereo kernel, sub-block after sub-block,
    // against glideCoefficients and the kernel computing its first prediction itself (in the
    // same written order) on two lattices of their own; now and then
    // something changes the lattices between the two (as a scan step or a blow-up reset does),
    // after which the prepared prediction must not be used.
    for (int order : {2, 7, 18, 80, 81}) {
        SCOPED_TRACE(order);
        Lattice fastL, fastR, refL, refR;
        setUp(fastL, order, 11u + order);
        setUp(refL, order, 11u + order);
        setUp(fastR, order, 200u + order);
        setUp(refR, order, 200u + order);
        std::mt19937 gen(31u * order);
        std::uniform_real_distribution<float> audio(-1.0f, 1.0f);
        std::uniform_real_distribution<float> warp(0.0f, 0.99f);
        std::uniform_real_distribution<float> unit(-0.9f, 0.9f);
        float inL[8], inR[8], outL[8], outR[8];
        int used = 0;
        for (int block = 0; block < 300; ++block) {
            SCOPED_TRACE(block);
            const float wl = warp(gen), wr = warp(gen), sl = unit(gen), sr = unit(gen);
            usp::StereoPrediction prediction;
            skv::glideLatticePair(fastL, fastR, wl, sl, wr, sr, &prediction);
            refR.glideCoefficients(wr, sr);
            refL.glideCoefficients(wl, sl);
            switch (block % 7) {
            case 3: {  // new targets and order, as at a scan step
                float column[81];
                for (float& x : column)
                    x = unit(gen);
                const int newOrder = 2 + static_cast<int>(gen() % 80);
                for (Lattice* l : {&fastL, &refL, &fastR, &refR}) {
                    l->setTargetCoefficients(column, 81);
                    l->setOrder(newOrder);
                }
                break;
            }
            case 5:  // one channel cleared, as by the blow-up guard
                fastR.clearState();
                fastR.resetCoefficients();
                refR.clearState();
                refR.resetCoefficients();
                break;
            default:
                ++used;
                break;
            }
            const int n = 1 + static_cast<int>(gen() % 8);
            for (int i = 0; i < n; ++i) {
                inL[i] = audio(gen);
                inR[i] = audio(gen);
            }
            usp::processStereoLattice(fastL, fastR, inL, inR, outL, outR, n, &prediction);
            float refOutL[8], refOutR[8];
            usp::processStereoLattice(refL, refR, inL, inR, refOutL, refOutR, n);
            for (int i = 0; i < n; ++i) {
                ASSERT_TRUE(sameBits(outL[i], refOutL[i])) << i;
                ASSERT_TRUE(sameBits(outR[i], refOutR[i])) << i;
            }
        }
        EXPECT_GT(used, 150);
    }
}
