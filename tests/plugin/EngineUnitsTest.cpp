// What the engine hands its units, seen from inside the effect: the start-up targets and what
// resume keeps, the filter order, time constant and delay lengths reaching every unit, the scan
// clock and its realignment by the host's tempo, the columns of the scan step (seeded, slave,
// self-analysis) and the blow-up guard. Expected values come from the formulas written out
// here, not from the engine's helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "EngineProbe.h"
#include "dsp/Delay.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "support/ScratchFolder.h"
#include "support/TestSignals.h"

using enginetest::CEngineProbe;
using enginetest::seededColumn;
using skvtest::noise;

namespace {

// The lattice's target for an incoming value (its input scale is -1).
float latticeTarget(float v)
{
    return std::fabs(v) < 1e-9f ? 1e-7f : -v;
}

// Makes a channel's filter map hold no valid picture: a file that is not a BMP.
void invalidateMap(CEngineProbe& fx, int channel)
{
    skvtest::CScratchFolder folder;  // of its own: test programs may run side by side
    const auto path = folder.path() / "not-a-bmp.bmp";
    std::ofstream(path) << "not a picture";
    std::shared_ptr<kfx::CBitmapArrayAnalyser> map;
    fx.getFilterMap(map, channel);
    map->loadFromFile(path.string());
    ASSERT_FALSE(map->isValid());
}

}  // namespace

TEST(EngineUnits, StartUpTargetsSurviveTheResumeThatEndsConstruction)
{
    CEngineProbe fx;
    const auto left = seededColumn(31, 30);
    const auto right = seededColumn(47, 30);
    skv::CLattice& l = *fx.engine.lattice[0];
    skv::CLattice& r = *fx.engine.lattice[1];
    // Program 0 has grown the order from 12 to 18: the first 13 targets are the seeded ones,
    // the new stages start at the floor.
    ASSERT_EQ(l.order, 18);
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(l.targetCoeffs[i], latticeTarget(left[i])) << i;
        EXPECT_EQ(r.targetCoeffs[i], latticeTarget(right[i])) << i;
    }
    for (int i = 13; i < 18; ++i)
        EXPECT_EQ(l.targetCoeffs[i], 1e-7f) << i;
    EXPECT_EQ(fx.engine.scanCounter, 0);
    EXPECT_EQ(fx.engine.envelope, 0.0f);

    // Audio through a short delay before the first scan step (a step is 0.21 * 4 s long),
    // then resume: the states are cleared, the targets kept.
    fx.setParameter(2, 0.01f);
    std::vector<float> in = noise(8192, 3, 0.5f), oL(in.size()), oR(in.size());
    fx.block(in.data(), in.data(), oL.data(), oR.data(), static_cast<int>(in.size()));
    ASSERT_EQ(fx.engine.scanCounter, 0);
    float stateEnergy = 0.0f;
    for (int i = 0; i < l.count; ++i)
        stateEnergy += std::fabs(l.stateA[i]) + std::fabs(l.stateB[i]);
    ASSERT_GT(stateEnergy, 0.0f);
    fx.resumeNow();
    for (int i = 0; i < l.count; ++i) {
        EXPECT_EQ(l.stateA[i], 0.0f);
        EXPECT_EQ(l.stateB[i], 0.0f);
        EXPECT_EQ(r.stateA[i], 0.0f);
    }
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(l.targetCoeffs[i], latticeTarget(left[i])) << i;
    EXPECT_EQ(fx.engine.envelope, 0.0f);
    EXPECT_EQ(fx.engine.toneOut[0], 0.0f);
}

TEST(EngineUnits, FilterOrderReachesLatticesBandsAndMainDelays)
{
    CEngineProbe fx;
    fx.setParameter(36, 1.0f);  // band banks in use, so they take their requests
    fx.setParameter(37, 1.0f);
    fx.setParameter(0, 0.01f);  // left pre-delay, with order 18
    fx.setParameter(2, 0.25f);
    for (float x : {0.0f, 0.1f, 0.13f, 0.5f, 1.0f}) {
        SCOPED_TRACE(x);
        fx.setParameter(40, x);
        const int order = static_cast<int>(std::nearbyint(78.0 * x + 2.0));
        const int bands = order < 12 ? 2 : order / 4;
        fx.silence(64);  // band requests are applied by the audio thread
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(fx.engine.lattice[c]->order, order);
            EXPECT_EQ(fx.engine.bands[c]->getActiveBands(), bands);
            EXPECT_NEAR(fx.engine.bands[c]->getOutputScale(), std::log(double(bands)), 1e-6);
        }
        // The main delays lose the new order; the pre-delay keeps the one it was set with.
        EXPECT_EQ(fx.engine.delay[skv::kLineL].length.load(), 0.25f * 176400.0f - order);
        EXPECT_EQ(fx.engine.lines[skv::kLineL]->targetDelay, 0.25f * 176400.0f - order);
        EXPECT_EQ(fx.engine.delay[skv::kLinePreL].length.load(), 0.01f * 176400.0f - 18.0f);
    }
}

TEST(EngineUnits, TimeConstantReachesLatticesAndBands)
{
    CEngineProbe fx;
    fx.setParameter(36, 1.0f);
    fx.setParameter(37, 1.0f);
    for (float x : {0.0f, 0.3f, 1.0f}) {
        fx.setParameter(42, x);
        fx.silence(8);
        const float b = 1.0f - std::exp(-15.0f * x);
        for (int c = 0; c < 2; ++c) {
            EXPECT_FLOAT_EQ(fx.engine.lattice[c]->smoothing, b);
            EXPECT_FLOAT_EQ(fx.engine.bands[c]->getSmoothing(), b);
        }
    }
}

TEST(EngineUnits, ScanStepsFollowTheStepLength)
{
    // The phase grows by 1/(length - 1) per sample and a step comes when it reaches 1.
    auto stepsIn = [](double length, int samples) {
        const double increment = 1.0 / (length - 1.0);
        double phase = 0.0;
        int steps = 0;
        for (int i = 0; i < samples; ++i) {
            phase += increment;
            if (phase >= 1.0) {
                ++steps;
                phase = 0.0;
            }
        }
        return steps;
    };
    for (float x : {0.01f, 0.0f}) {  // 0.01 * 4 s = 1764 samples; 0 gives the 32-sample floor
        SCOPED_TRACE(x);
        CEngineProbe fx;
        fx.setParameter(41, x);
        const double length = x > 0.0f ? double(x) * 176400.0 : 32.0;
        EXPECT_EQ(fx.engine.stepLength.load(), length);
        fx.silence(20000, 64);
        EXPECT_EQ(fx.engine.scanCounter, stepsIn(length, 20000));
        EXPECT_GE(fx.engine.scanCounter, static_cast<int>(20000 / length));
    }
}

TEST(EngineUnits, TempoPollRealignsTheScanPhaseToTheBarGrid)
{
    // Sync Scan 0.5 counts sixteenths: 0.125 * 4 s gives 4 of them, one beat of 22050 samples
    // at 120 BPM. The realignment grid is that step times the 4/4 numerator, four beats; the
    // host standing one beat into it puts the phase at 0.25, and the step comes after
    // 0.75 * (22050 - 1) samples instead of after the whole step.
    auto samplesToFirstStep = [](double ppq) {
        enginetest::setScriptedTime(120.0, ppq, 0.0);
        CEngineProbe fx(&enginetest::scriptedHost);
        fx.setParameter(41, 0.125f);
        fx.setParameter(48, 0.5f);
        EXPECT_EQ(fx.engine.stepLength.load(), 22050.0);
        fx.silence(16536, 16536);  // one block: one poll at its start
        if (fx.engine.scanCounter != 0)
            return 16536;
        fx.silence(1, 1);
        return fx.engine.scanCounter != 0 ? 16537 : -1;
    };
    EXPECT_EQ(samplesToFirstStep(1.0), 16537);
    EXPECT_EQ(samplesToFirstStep(0.0), -1);     // phase 0: a full step
    EXPECT_EQ(samplesToFirstStep(3.9), -1);     // 97.5 % into the step: not moved
    EXPECT_EQ(samplesToFirstStep(5.0), 16537);  // the next bar, same place in it
}

TEST(EngineUnits, TempoPollCadence)
{
    enginetest::setScriptedTime(120.0);
    CEngineProbe fx(&enginetest::scriptedHost);
    int& requests = enginetest::timeRequests();
    requests = 0;
    fx.silence(8 * 1200, 8);  // sync off: no polls
    EXPECT_EQ(requests, 0);
    fx.setParameter(47, 0.5f);
    fx.silence(8 * 1200, 8);  // at blocks 1, 502, 1003
    EXPECT_EQ(requests, 3);
    // A tempo change seen at a poll: the delays follow, and the next poll comes 6 blocks
    // later. The countdown stands at 303 after block 1200, so block 304 of this run polls.
    fx.setParameter(2, 0.5f);
    EXPECT_EQ(fx.getParameter(2), 0.5f);  // 16 sixteenths at 120 BPM: on the grid
    enginetest::setScriptedTime(100.0);
    requests = 0;
    fx.silence(8 * 303, 8);
    EXPECT_EQ(requests, 0);
    fx.silence(8 * 17, 8);  // polls at blocks 304 (changed) and 310 (steady)
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(fx.currentSamplesPerBeat(), 26460.0);
    // At 100 BPM: ceil((4 * 0.5 * 176400 - 0.5) / 26460) = 14 sixteenths.
    EXPECT_NEAR(fx.getParameter(2), 14.0 / 4.0 * 26460.0 / 176400.0, 1e-6);
}

TEST(EngineUnits, InvalidMapGivesTheSeededColumnOfEveryStep)
{
    CEngineProbe fx;
    invalidateMap(fx, 26);
    invalidateMap(fx, 31);
    fx.setParameter(41, 0.0f);
    for (int k = 0; k < 5; ++k) {
        const int before = fx.engine.scanCounter;
        // Blocks of 8 until a step happens; the column is the step counter's seeded one.
        while (fx.engine.scanCounter == before)
            fx.silence(8, 8);
        const auto expected = seededColumn(static_cast<unsigned>(fx.engine.scanCounter - 1), 80);
        for (int i = 0; i < 80; ++i) {
            ASSERT_EQ(fx.engine.columnL[i], expected[i]) << i;
            ASSERT_EQ(fx.engine.columnR[i], expected[i]) << i;
        }
    }
}

TEST(EngineUnits, SlaveModeCopiesTheLeftColumnAtEveryStep)
{
    for (float tabR : {1.0f, 0.0f}) {
        SCOPED_TRACE(tabR);
        CEngineProbe fx;
        fx.loadFilterMap("#1", 26, true);  // left reads a picture, right stays seeded
        invalidateMap(fx, 31);
        fx.setParameter(41, 0.0f);
        fx.setParameter(39, tabR);
        int equalSteps = 0;
        for (int k = 0; k < 6; ++k) {
            const int before = fx.engine.scanCounter;
            while (fx.engine.scanCounter == before)
                fx.silence(8, 8);
            bool same = true;
            for (int i = 0; i < 80; ++i)
                same = same && fx.engine.columnR[i] == fx.engine.columnL[i];
            const int order = fx.engine.lattice[0]->order;
            for (int i = 0; i < order; ++i)
                same = same && fx.engine.lattice[1]->targetCoeffs[i] ==
                                   fx.engine.lattice[0]->targetCoeffs[i];
            equalSteps += same;
        }
        EXPECT_EQ(equalSteps, tabR == 1.0f ? 6 : 0);
    }
}

TEST(EngineUnits, SelfAnalysisReadsTheOldestSamplesOfTheDelayLine)
{
    CEngineProbe fx;
    fx.setParameter(41, 0.0f);
    fx.setParameter(38, 0.5f);  // left: self-analysis
    fx.setParameter(39, 0.5f);  // right: self-analysis
    fx.setParameter(40, 1.0f);  // order 80
    usp::CWarpedLPCExtraction<float, 256, 60> reference;
    std::vector<float> inL = noise(1 << 19, 5, 0.5f), inR = noise(inL.size(), 6, 0.5f), oL(8),
                       oR(8);
    int checked = 0;
    for (std::size_t pos = 0; pos + 8 <= inL.size() && checked < 4; pos += 8) {
        // The ring as the scan step of the next sub-block finds it (the step comes in the
        // first pass, before the sub-block writes its delay input).
        const Delay<float>& line = *fx.engine.lines[skv::kLineL];
        std::vector<float> frame(512);
        float s = 0.0f;
        for (int k = 0; k < 512; ++k) {
            const float x = line.buffer[(line.writeIndex + k) % line.length];
            s = 0.02f * x + 0.98f * s;
            frame[k] = x - s;
        }
        const int before = fx.engine.scanCounter;
        fx.block(inL.data() + pos, inR.data() + pos, oL.data(), oR.data(), 8);
        // Only once the ring (262144 samples) has filled does its oldest part carry signal.
        if (fx.engine.scanCounter == before || pos < 262144 + 1024)
            continue;
        std::vector<float> expected(80);
        reference.extract(frame.data(), expected.data(), 80, 0.85f);
        float energy = 0.0f;
        for (int i = 0; i < 80; ++i) {
            ASSERT_EQ(fx.engine.columnL[i], expected[i]) << i;
            energy += std::fabs(expected[i]);
        }
        EXPECT_GT(energy, 0.01f);
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

TEST(EngineUnits, BlowUpGuardClearsOnlyTheRunawayChannel)
{
    for (float runaway : {20000.0f, NAN}) {
        SCOPED_TRACE(runaway);
        CEngineProbe fx;
        Delay<float>& lineL = *fx.engine.lines[skv::kLineL];
        Delay<float>& lineR = *fx.engine.lines[skv::kLineR];
        for (int i = 0; i < lineL.length; ++i) {
            lineL.buffer[i] = 0.25f;
            lineR.buffer[i] = 0.25f;
        }
        fx.engine.lattice[0]->stateA[3] = 0.5f;
        fx.engine.lattice[1]->stateA[3] = 0.5f;
        fx.engine.lattice[0]->output = runaway;
        fx.silence(8, 8);
        // Left: line, lattice state and coefficients cleared; the sub-block then wrote its
        // 8 samples of (silent) delay input.
        double left = 0.0, right = 0.0;
        for (int i = 0; i < lineL.length; ++i) {
            left += std::fabs(lineL.buffer[i]);
            right += std::fabs(lineR.buffer[i]);
        }
        EXPECT_LT(left, 1e-6);
        EXPECT_GT(right, 0.25 * (lineR.length - 16));
        for (int i = 0; i < fx.engine.lattice[0]->order; ++i)
            EXPECT_EQ(fx.engine.lattice[0]->targetCoeffs[i], 1e-7f) << i;
        EXPECT_NE(fx.engine.lattice[1]->targetCoeffs[0], 1e-7f);
        EXPECT_TRUE(std::isfinite(fx.engine.lattice[0]->output));
    }
}

TEST(EngineUnits, NonFiniteBlowUpAlsoClearsThatChannelsToneMemories)
{
    // A finite runaway keeps the tone memories; a non-finite one drops them, on its own
    // channel only (the held output is zeroed too, so only the saturation's anti-denormal
    // residue reaches them afterwards).
    for (float runaway : {20000.0f, NAN}) {
        SCOPED_TRACE(runaway);
        CEngineProbe fx;
        for (int c = 0; c < 2; ++c) {
            fx.engine.toneLow[c] = 0.2f;
            fx.engine.toneOut[c] = 0.3f;
        }
        fx.engine.lattice[0]->output = runaway;
        fx.silence(8, 8);
        EXPECT_EQ(std::fabs(fx.engine.toneOut[0]) < 1e-6f, std::isnan(runaway));
        EXPECT_EQ(std::fabs(fx.engine.toneLow[0]) < 1e-6f, std::isnan(runaway));
        EXPECT_GT(std::fabs(fx.engine.toneOut[1]), 0.1f);
    }
}

TEST(EngineUnits, BackwardLineRestartsItsSegmentAtANewLength)
{
    CEngineProbe fx;
    fx.setParameter(4, 1.0f);  // left backward
    fx.silence(5000, 64);
    Delay<float>& line = *fx.engine.lines[skv::kLineL];
    ASSERT_TRUE(line.reverse);
    fx.setParameter(2, 0.1f);
    fx.silence(64, 64);
    // The new length arrived at the block start: both heads at the write position then, 64
    // samples played since.
    const int order = fx.engine.order.load();
    const float length = 0.1f * 176400.0f - order;
    EXPECT_EQ(line.reversePeriod, static_cast<int>(std::ceil(length)));
    EXPECT_EQ(line.reverseCounter, static_cast<int>(std::nearbyint(length)) - 64);
    EXPECT_EQ(line.readIndex, (line.writeIndex - 64 - 64 + line.length) % line.length);
}
