// The fused two-lane lattice kernel against two reference lattices driven through process():
// every output and every state value must be bit-identical, for random coefficients, warps
// and orders 2..81, across glides, order changes and blocks of any length.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "dsp/LatticeStereoKernel.h"
#include "DspTestSupport.h"

namespace {

using skvtest::bitsOf;

using Lattice = usp::CUnitWIIRLattice<float, 81>;

// Reference and fast pair receive exactly the same calls.
struct Pairs {
    std::unique_ptr<Lattice> refL = std::make_unique<Lattice>();
    std::unique_ptr<Lattice> refR = std::make_unique<Lattice>();
    std::unique_ptr<Lattice> fastL = std::make_unique<Lattice>();
    std::unique_ptr<Lattice> fastR = std::make_unique<Lattice>();

    template <typename F>
    void left(F f)
    {
        f(*refL);
        f(*fastL);
    }
    template <typename F>
    void right(F f)
    {
        f(*refR);
        f(*fastR);
    }
};

void expectSameState(const Lattice& a, const Lattice& b, const char* what)
{
    SCOPED_TRACE(what);
    ASSERT_EQ(a.order, b.order);
    ASSERT_EQ(a.count, b.count);
    ASSERT_EQ(a.pingPong, b.pingPong);
    ASSERT_EQ(bitsOf(a.output), bitsOf(b.output));
    ASSERT_EQ(bitsOf(a.denormalOffset), bitsOf(b.denormalOffset));
    for (int j = 0; j < a.count; ++j) {
        ASSERT_EQ(bitsOf(a.stateA[j]), bitsOf(b.stateA[j])) << "stateA " << j;
        ASSERT_EQ(bitsOf(a.stateB[j]), bitsOf(b.stateB[j])) << "stateB " << j;
        ASSERT_EQ(bitsOf(a.coeffs[j]), bitsOf(b.coeffs[j])) << "coeffs " << j;
    }
}

std::vector<float> randomColumn(std::mt19937& rng, float limit)
{
    return skvtest::randomValues(rng, 80, -limit, limit);
}

// Runs one block through both pairs and compares outputs and states.
void runBlock(Pairs& p, std::mt19937& rng, int n, float amplitude)
{
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> inL(n), inR(n), refOutL(n), refOutR(n), outL(n), outR(n);
    for (int i = 0; i < n; ++i) {
        inL[i] = d(rng);
        inR[i] = d(rng);
    }
    for (int i = 0; i < n; ++i) {
        refOutL[i] = p.refL->process(inL[i]);
        refOutR[i] = p.refR->process(inR[i]);
    }
    usp::processStereoLattice(*p.fastL, *p.fastR, inL.data(), inR.data(), outL.data(), outR.data(),
                              n);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(bitsOf(outL[i]), bitsOf(refOutL[i])) << "left sample " << i << " of " << n;
        ASSERT_EQ(bitsOf(outR[i]), bitsOf(refOutR[i])) << "right sample " << i << " of " << n;
    }
    expectSameState(*p.refL, *p.fastL, "left");
    expectSameState(*p.refR, *p.fastR, "right");
}

}  // namespace

TEST(LatticeStereoKernel, BitIdenticalToTwoReferenceLatticesAcrossGlidesAndOrders)
{
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> orderDist(2, 81);
    std::uniform_int_distribution<int> blockDist(1, 70);
    std::uniform_real_distribution<float> warpDist(0.0f, 0.99f);
    std::uniform_real_distribution<float> scaleDist(0.3f, 0.99f);
    std::uniform_real_distribution<float> smoothDist(0.0f, 0.999f);

    for (int trial = 0; trial < 30; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        Pairs p;
        const int order = orderDist(rng);
        p.left([&](Lattice& l) { l.setOrder(order); });
        p.right([&](Lattice& l) { l.setOrder(order); });
        const float sL = smoothDist(rng), sR = smoothDist(rng);
        p.left([&](Lattice& l) { l.smoothing = sL; });
        p.right([&](Lattice& l) { l.smoothing = sR; });
        const float warpL = warpDist(rng), warpR = warpDist(rng);
        const float scaleL = scaleDist(rng), scaleR = scaleDist(rng);
        for (int block = 0; block < 40; ++block) {
            if (block % 7 == 0) {
                const std::vector<float> cl = randomColumn(rng, 0.99f);
                const std::vector<float> cr = randomColumn(rng, 0.99f);
                p.left([&](Lattice& l) { l.setTargetCoefficients(cl.data(), 80); });
                p.right([&](Lattice& l) { l.setTargetCoefficients(cr.data(), 80); });
            }
            if (block % 13 == 12) {
                // An order change for both channels, as at a scan step.
                const int next = orderDist(rng);
                p.left([&](Lattice& l) { l.setOrder(next); });
                p.right([&](Lattice& l) { l.setOrder(next); });
            }
            p.right([&](Lattice& l) { l.glideCoefficients(warpR, scaleR); });
            p.left([&](Lattice& l) { l.glideCoefficients(warpL, scaleL); });
            runBlock(p, rng, blockDist(rng), block % 5 == 4 ? 1e-11f : 0.5f);
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}

TEST(LatticeStereoKernel, EveryOrderFromTwoTo81)
{
    std::mt19937 rng(7);
    for (int order = 2; order <= 81; ++order) {
        SCOPED_TRACE(::testing::Message() << "order " << order);
        Pairs p;
        const std::vector<float> cl = randomColumn(rng, 0.95f);
        const std::vector<float> cr = randomColumn(rng, 0.95f);
        p.left([&](Lattice& l) {
            l.setOrder(order);
            l.smoothing = 0.5f;
            l.setTargetCoefficients(cl.data(), 80);
        });
        p.right([&](Lattice& l) {
            l.setOrder(order);
            l.smoothing = 0.5f;
            l.setTargetCoefficients(cr.data(), 80);
        });
        for (int block = 0; block < 4; ++block) {
            p.left([&](Lattice& l) { l.glideCoefficients(0.7f, 0.9f); });
            p.right([&](Lattice& l) { l.glideCoefficients(0.2f, 0.95f); });
            runBlock(p, rng, 8 + block, 0.8f);
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }
}

TEST(LatticeStereoKernel, DifferentOrdersTakeTheReferencePath)
{
    std::mt19937 rng(11);
    Pairs p;
    p.left([&](Lattice& l) { l.setOrder(12); });
    p.right([&](Lattice& l) { l.setOrder(40); });
    const std::vector<float> cl = randomColumn(rng, 0.9f);
    p.left([&](Lattice& l) { l.setTargetCoefficients(cl.data(), 80); });
    p.right([&](Lattice& l) { l.setTargetCoefficients(cl.data(), 80); });
    for (int block = 0; block < 6; ++block) {
        p.left([&](Lattice& l) { l.glideCoefficients(0.5f, 0.9f); });
        p.right([&](Lattice& l) { l.glideCoefficients(0.5f, 0.9f); });
        runBlock(p, rng, 17, 0.5f);
        if (block == 2)
            p.right([&](Lattice& l) { l.setOrder(12); });  // back to the fused path
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
    }
}

TEST(LatticeStereoKernel, InPlaceBuffersAndEmptyBlocks)
{
    std::mt19937 rng(5);
    Lattice refL, refR, fastL, fastR;
    const std::vector<float> cl = randomColumn(rng, 0.9f);
    for (Lattice* l : {&refL, &refR, &fastL, &fastR}) {
        l->setOrder(30);
        l->setTargetCoefficients(cl.data(), 80);
        l->glideCoefficients(0.6f, 0.9f);
    }
    std::vector<float> bufL(33), bufR(33);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (int i = 0; i < 33; ++i) {
        bufL[i] = d(rng);
        bufR[i] = d(rng);
    }
    std::vector<float> expectL(33), expectR(33);
    for (int i = 0; i < 33; ++i) {
        expectL[i] = refL.process(bufL[i]);
        expectR[i] = refR.process(bufR[i]);
    }
    usp::processStereoLattice(fastL, fastR, bufL.data(), bufR.data(), bufL.data(), bufR.data(), 0);
    usp::processStereoLattice(fastL, fastR, bufL.data(), bufR.data(), bufL.data(), bufR.data(), 33);
    for (int i = 0; i < 33; ++i) {
        ASSERT_EQ(bitsOf(bufL[i]), bitsOf(expectL[i])) << i;
        ASSERT_EQ(bitsOf(bufR[i]), bitsOf(expectR[i])) << i;
    }
    expectSameState(refL, fastL, "left");
    expectSameState(refR, fastR, "right");
}

TEST(LatticeStereoKernel, TinyOutputsAreFlushedWhileTheStateKeepsThem)
{
    Lattice refL, refR, fastL, fastR;
    for (Lattice* l : {&refL, &refR, &fastL, &fastR})
        l->setOrder(9);
    std::vector<float> inL(16, 3e-11f), inR(16, -4e-11f), outL(16), outR(16);
    usp::processStereoLattice(fastL, fastR, inL.data(), inR.data(), outL.data(), outR.data(), 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(refL.process(inL[i]), 0.0f);
        EXPECT_EQ(refR.process(inR[i]), 0.0f);
        EXPECT_EQ(bitsOf(outL[i]), 0u) << i;
        EXPECT_EQ(bitsOf(outR[i]), 0u) << i;
    }
    // The unflushed outputs went on into the chain.
    const float* q = fastL.pingPong ? fastL.stateA : fastL.stateB;
    EXPECT_NE(q[1], 0.0f);
    expectSameState(refL, fastL, "left");
    expectSameState(refR, fastR, "right");
}

TEST(LatticeStereoKernel, SameLatticeTwiceRunsBothChannelsThroughIt)
{
    std::mt19937 rng(3);
    Lattice ref, fast;
    const std::vector<float> cl = randomColumn(rng, 0.9f);
    for (Lattice* l : {&ref, &fast}) {
        l->setOrder(20);
        l->setTargetCoefficients(cl.data(), 80);
        l->glideCoefficients(0.4f, 0.9f);
    }
    std::vector<float> inL(10), inR(10), outL(10), outR(10);
    for (int i = 0; i < 10; ++i) {
        inL[i] = 0.1f * static_cast<float>(i);
        inR[i] = -0.05f * static_cast<float>(i);
    }
    usp::processStereoLattice(fast, fast, inL.data(), inR.data(), outL.data(), outR.data(), 10);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(bitsOf(outL[i]), bitsOf(ref.process(inL[i]))) << i;
        ASSERT_EQ(bitsOf(outR[i]), bitsOf(ref.process(inR[i]))) << i;
    }
    expectSameState(ref, fast, "shared");
}
