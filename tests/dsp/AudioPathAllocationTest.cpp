// Nothing on the audio path allocates: every per-sample and per-sub-block call of the
// signal-processing units runs under the allocation probe's counter (tests/support), which
// counts every form of operator new made by this thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "support/AllocationProbe.h"
#include "dsp/Delay.h"
#include "dsp/DrivenSVF.h"
#include "dsp/FastMath.h"
#include "dsp/LatticeStereoKernel.h"
#include "dsp/Saturation.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"
#include "DspTestSupport.h"

namespace {

using skvtest::noise;

using Lattice = usp::CUnitWIIRLattice<float, 81>;

}  // namespace

TEST(AudioPathAllocation, TheCounterSeesAllocations)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    // Kept where the optimiser cannot see it, so that neither allocation may be elided.
    static std::vector<float>* volatile sink;
    skvtest::startCountingAllocations();
    sink = new std::vector<float>(10);
    delete sink;
    EXPECT_EQ(skvtest::stopCountingAllocations(), 2);
}

TEST(AudioPathAllocation, DelayLine)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    Delay<float> line(176400);
    const std::vector<float> x = noise(5000, 1, 0.8f);
    float sink = 0;
    skvtest::startCountingAllocations();
    line.setDelay(3000.5f);
    for (float v : x)
        sink += line.processSample(v);
    line.setReverse(1.0f);
    line.setDelay(700.0f);
    for (float v : x)
        sink += line.processSample(v);
    line.clear();
    line.setReverse(0.0f);
    for (int i = 0; i < 100; ++i)
        sink += line.processSample(0.1f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, LatticeSubBlockScanStepAndSamples)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    Lattice left, right;
    const std::vector<float> column = noise(80, 2, 0.8f);
    const std::vector<float> x = noise(512, 3, 0.8f);
    std::vector<float> outL(512), outR(512);
    float sink = 0;
    skvtest::startCountingAllocations();
    for (int block = 0; block < 16; ++block) {
        // A scan step on the audio thread: new targets, then the order (which re-lays out
        // the arrays).
        for (Lattice* l : {&left, &right}) {
            l->setTargetCoefficients(column.data(), 80);
            l->setOrder(block % 2 ? 80 : 12 + block);
            l->glideCoefficients(0.6f, 0.9f);
        }
        {
            std::lock_guard<Lattice> lockL(left);
            std::lock_guard<Lattice> lockR(right);
            usp::processStereoLattice(left, right, x.data() + 32 * block, x.data() + 32 * block,
                                      outL.data(), outR.data(), 32);
            for (int i = 0; i < 32; ++i)
                sink += left.process(x[i]) + outL[i] + outR[i];
        }
    }
    left.setCoefficientsAt(column.data(), 80, 0.5f);
    left.setCoefficients(column.data(), 80);
    left.updateCoefficients();
    left.clearState();
    left.resetCoefficients();
    right.reset();
    right.initialize();
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, LpcExtraction)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    usp::CWarpedLPCExtraction<float, 256, 60> lpc;
    const std::vector<float> frame = noise(512, 4, 0.8f);
    const std::vector<float> silence(512, 0.0f);
    std::vector<float> out(80);
    skvtest::startCountingAllocations();
    lpc.extract(frame.data(), out.data(), 80, 0.85f);
    lpc.extract(frame.data(), out.data(), 80, 0.0f);
    lpc.extract(silence.data(), out.data(), 40, 0.85f);
    lpc.setFrameLength(100);
    lpc.extract(frame.data(), out.data(), 80, 0.85f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
}

TEST(AudioPathAllocation, OutputStage)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    os2Distort plain, twice;
    Filter<5> filter;
    std::vector<float> buf = noise(256, 5, 0.8f);
    float sink = 0;
    skvtest::startCountingAllocations();
    plain.configure(false, 0.5f, 0.05f, 0.3f, 0.99f, 1.2f);
    twice.configure(true, 0.5f, 0.05f, 0.3f, 0.99f, 1.2f);
    for (int i = 0; i < 256; ++i)
        sink += plain.processSample(buf[i]) + twice.processSample(buf[i]);
    plain.process(buf.data(), 256);
    twice.process(buf.data(), 256);
    twice.reset();
    twice.setGain(1.0f);
    for (int i = 0; i < 64; ++i)
        sink += filter.processSample(buf[i]);
    sink += skv::fastExp(-100.0f) + skv::fastExp(-0.3f) + skv::fastLog10(0.2f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(AudioPathAllocation, BandBankAndItsBands)
{
    if (!skvtest::allocationProbeAvailable())
        GTEST_SKIP() << "operator new belongs to the sanitizer";
    CSelBand bank;
    CDrivenSVF svf;
    const std::vector<float> column = noise(80, 6, 0.8f);
    std::vector<float> buf = noise(512, 7, 0.8f);
    float warp = 0.5f;
    float sink = 0;
    skvtest::startCountingAllocations();
    bank.setActiveBands(20);
    bank.resetBands();
    bank.setSmoothing(0.95f);
    bank.setFromColumn(column.data());
    for (int i = 0; i < 300; ++i)
        sink += bank.processSample(buf[i], 0.6f, 0.9f) + svf.processSample(buf[i]);
    bank.process(buf.data(), buf.data(), 512, warp, 0.0001f, 0.9f);
    EXPECT_EQ(skvtest::stopCountingAllocations(), 0);
    EXPECT_TRUE(std::isfinite(sink));
}
