// The audio path never allocates: the allocation probe (tests/support) counts every operator
// new while blocks run through each filter mode, scan steps (map columns, self-analysis,
// slave), tempo polls with a tempo change, backward lines and a blow-up reset.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "EngineProbe.h"
#include "support/AllocationProbe.h"
#include "dsp/UnitWIIRLattice.h"

TEST(EngineAllocation, NoAllocationWhileProcessing)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new cannot be replaced in this build";
    long allocations = 0;
    enginetest::setScriptedTime(120.0, 2.5, 0.0);
    enginetest::CEngineProbe fx(&enginetest::scriptedHost);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-0.8f, 0.8f);
    std::vector<float> inL(512), inR(512), outL(512), outR(512);
    auto runBlocks = [&](int blocks, int size) {
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < size; ++i) {
                inL[i] = dist(gen);
                inR[i] = dist(gen);
            }
            skvtest::startCountingAllocations();
            fx.block(inL.data(), inR.data(), outL.data(), outR.data(), size);
            allocations += skvtest::stopCountingAllocations();
        }
    };
    // Settings change between blocks, outside the counted window.
    fx.setParameter(40, 1.0f);
    fx.setParameter(41, 0.0f);  // a scan step every 32 samples
    fx.setParameter(47, 0.3f);  // synced delays and scan: tempo polls
    fx.setParameter(48, 0.3f);
    runBlocks(40, 512);         // lattices reading both filter maps
    fx.setParameter(36, 1.0f);  // band filters
    fx.setParameter(37, 1.0f);
    fx.setParameter(4, 1.0f);  // backward lines
    fx.setParameter(5, 1.0f);
    runBlocks(40, 100);  // sub-blocks of one sample
    fx.setParameter(36, 0.0f);
    fx.setParameter(37, 0.0f);
    fx.setParameter(38, 0.7f);                     // left self-analysis
    fx.setParameter(39, 1.0f);                     // right follows left
    enginetest::setScriptedTime(97.0, 7.25, 4.0);  // tempo change: delays follow at a poll
    runBlocks(600, 64);
    fx.setParameter(39, 0.5f);            // right self-analysis
    fx.engine.lattice[0]->output = 1e6f;  // runaway left channel
    runBlocks(20, 512);
    EXPECT_EQ(allocations, 0);
    // The counter itself works.
    static std::vector<float>* volatile sink;  // out of the optimiser's sight
    skvtest::startCountingAllocations();
    sink = new std::vector<float>(3);
    const long counted = skvtest::stopCountingAllocations();
    delete sink;
    EXPECT_GE(counted, 1);
}
