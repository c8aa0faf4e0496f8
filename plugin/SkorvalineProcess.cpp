// The audio engine: block processing (pre-delays, delays with the envelope-gated feedback
// matrix, the scan clock with filter-map columns, self-analysis or slave mode, lattice or band
// filters, compressor and saturation, tone section, mix and volume), the tempo poll, and the
// life cycle of the audio units.
//
// A block is split into sub-blocks of the configured resolution R (or of one sample when the
// block length is not a multiple of R). Each sub-block runs four passes over eight work arrays;
// a filter's output reaches the compressor, the tone section, the output and the feedback one
// sub-block later. Everything here runs on the audio thread except the life-cycle functions
// and clearAudioState (resume), which hosts call while no audio runs.
#include "plugin/Skorvaline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <xmmintrin.h>

#include "dsp/Delay.h"
#include "dsp/FastMath.h"
#include "dsp/LatticeStereoKernel.h"
#include "dsp/Saturation.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/EngineConfig.h"
#include "plugin/EngineGlide.h"
#include "plugin/ParameterTable.h"

using namespace skv;
namespace eng = skv::engine;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kBandKindThreshold = 0.6666667f;
constexpr float kTabAnalysisThreshold = 0.5f;    // left: map below, analysis above
constexpr float kTabRightMap = 0.33333334f;      // right: map below
constexpr float kTabRightAnalysis = 0.6666667f;  // right: analysis below, slave above
constexpr float kConditionThreshold = 0.5f;      // map columns are conditioned below this
constexpr int kWorkArrays = 8;

float* allocateAligned(std::size_t count)
{
    void* p = ::operator new(count * sizeof(float), std::align_val_t(32));
    std::memset(p, 0, count * sizeof(float));
    return static_cast<float*>(p);
}

void freeAligned(float*& p)
{
    if (p)
        ::operator delete(static_cast<void*>(p), std::align_val_t(32));
    p = nullptr;
}

// Hosts may hand over NaN or infinite samples; they would live on in the delay lines and the
// tone memories for good, so they enter the engine as silence.
inline float finiteOrZero(float x)
{
    return std::fabs(x) <= 3.0e38f ? x : 0.0f;
}

// Extra net under the units' own anti-denormal offsets: flush-to-zero and denormals-are-zero
// for the duration of a block, the host's flags restored afterwards.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }
    ~ScopedFlushDenormals() { _mm_setcsr(saved); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    unsigned saved;
};

}  // namespace

// ---- host entry points -----------------------------------------------------------------------

void fxSkorvaline::process(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    processBlock(inputs, outputs, sampleFrames, 0);
}

void fxSkorvaline::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    processBlock(inputs, outputs, sampleFrames, 1);
}

// ---- life cycle ----------------------------------------------------------------------------

void fxSkorvaline::createWorkBuffers()
{
    EngineState& e = engine;
    // The filter maps start empty (no valid picture) until a program loads them.
    e.filterMaps[0] = std::make_shared<kfx::CBitmapArrayAnalyser>("L");
    e.filterMaps[1] = std::make_shared<kfx::CBitmapArrayAnalyser>("R");
    e.lpc = new CLpcExtraction();
    e.columnL = allocateAligned(eng::kColumnCapacity);
    e.columnR = allocateAligned(eng::kColumnCapacity);
    e.analysisFrame = allocateAligned(eng::kAnalysisLength);
}

void fxSkorvaline::createAudioUnits()
{
    EngineState& e = engine;
    // The work arrays are sized from the resolution the configuration handed out at
    // construction step 5 (CConfig::getResolution keeps it within 1..4096).
    e.resolution4 = (e.resolution + 3) & ~3;
    e.work = allocateAligned(static_cast<std::size_t>(kWorkArrays) * e.resolution4);

    for (auto& line : e.lines)
        line = new Delay<float>(kMaxDelaySamples);
    for (int c = 0; c < 2; ++c) {
        CLattice* l = new CLattice();
        e.lattice[c] = l;
        l->setOrder(eng::kInitialOrder);
        l->setSmoothing(eng::kInitialSmoothing);
        e.smoothing.store(eng::kInitialSmoothing, kRelaxed);
        l->clearState();
        l->resetCoefficients();
        e.bands[c] = new CSelBand();
        e.bands[c]->setActiveBands(eng::kInitialBands);
        e.distort[c] = new os2Distort();
    }
    // Seeded start-up targets: the sound until the first scan step.
    fillSeededColumn(e.columnL, eng::kSeededStartValues, eng::kSeedLeft);
    fillSeededColumn(e.columnR, eng::kSeededStartValues, eng::kSeedRight);
    e.lattice[0]->setTargetCoefficients(e.columnL, eng::kSeededStartValues);
    e.lattice[1]->setTargetCoefficients(e.columnR, eng::kSeededStartValues);
    e.lpc->analysisWarp = eng::kAnalysisWarp;
}

void fxSkorvaline::clearAudioState()
{
    EngineState& e = engine;
    if (!e.work)
        return;
    applyPendingLines();
    applyPendingLattice();
    // Restarted rather than only cleared: a write position jumping to 0 under a read head that
    // kept its old place would shift every delay after each resume.
    for (Delay<float>* line : e.lines)
        line->restart();
    // The lattice states only: the coefficients keep the seeded start-up targets.
    for (CLattice* l : e.lattice)
        l->clearState();
    for (CSelBand* b : e.bands)
        b->resetBands();
    for (os2Distort* d : e.distort)
        d->reset();
    for (int c = 0; c < 2; ++c) {
        e.toneLow[c] = 0.0f;
        e.toneOut[c] = 0.0f;
    }
    e.envelope = 0.0f;
    // The held filter outputs would otherwise leak the last sub-block before the resume.
    std::memset(e.work, 0, sizeof(float) * kWorkArrays * static_cast<std::size_t>(e.resolution4));
}

void fxSkorvaline::destroyAudioUnits()
{
    EngineState& e = engine;
    for (auto& line : e.lines) {
        delete line;
        line = nullptr;
    }
    for (int c = 0; c < 2; ++c) {
        delete e.lattice[c];
        delete e.bands[c];
        delete e.distort[c];
        e.lattice[c] = nullptr;
        e.bands[c] = nullptr;
        e.distort[c] = nullptr;
        e.filterMaps[c].reset();
    }
    delete e.lpc;
    e.lpc = nullptr;
    freeAligned(e.columnL);
    freeAligned(e.columnR);
    freeAligned(e.analysisFrame);
    freeAligned(e.work);
}

// ---- block start helpers -------------------------------------------------------------------

void fxSkorvaline::applyPendingLines()
{
    EngineState& e = engine;
    const double spb = currentSamplesPerBeat();
    const bool tempoMoved = e.tempoMoved || spb != e.appliedSamplesPerBeat;
    e.tempoMoved = false;
    e.appliedSamplesPerBeat = spb;
    const bool delaySync = e.syncDelay.load(kRelaxed) >= eng::kSyncThreshold;
    for (int i = 0; i < kNumLines; ++i) {
        Delay<float>& line = *e.lines[i];
        // Directions first, so that a new length in the same block restarts a backward segment.
        if (i >= kLineL) {
            const bool reverse = e.direction[i - kLineL].load(kRelaxed) >= 0.5f;
            if (reverse != e.appliedReverse[i]) {
                line.setReverse(reverse ? 1.0f : 0.0f);
                e.appliedReverse[i] = reverse;
            }
        }
        DelayRecord& r = e.delay[i];
        const unsigned serial = r.serial.load(std::memory_order_acquire);
        const bool posted = serial != e.appliedSerial[i];
        e.appliedSerial[i] = serial;
        if (tempoMoved && delaySync) {
            // A new tempo re-snaps each synced delay from the value its user set (also one
            // posted in this very block, which was snapped at the tempo before), so that tempo
            // changes back and forth leave it where it was.
            const DelayTime t =
                computeDelayTime(r.userValue.load(kRelaxed), e.syncDelay.load(kRelaxed),
                                 e.order.load(kRelaxed), spb);
            r.publish(t);
            line.setDelay(t.length);
            engineMovedParameter(kParamLPreDelay + i, t.normalised);
        }
        else if (posted) {
            line.setDelay(r.length.load(kRelaxed));
        }
    }
    const unsigned stepSerial = e.stepSerial.load(std::memory_order_acquire);
    if (stepSerial != e.appliedStepSerial || tempoMoved) {
        e.appliedStepSerial = stepSerial;
        const StepTime t =
            computeStepTime(e.stepValue.load(kRelaxed), e.syncScan.load(kRelaxed), spb);
        e.stepLengthInUse = t.length;
        e.stepUnitsInUse = t.units;
        e.stepUnitsPerBeatInUse = t.unitsPerBeat;
        if (tempoMoved) {
            e.stepLength.store(t.length, kRelaxed);
            e.stepUnits.store(t.units, kRelaxed);
            e.stepUnitsPerBeat.store(t.unitsPerBeat, kRelaxed);
        }
    }
}

void fxSkorvaline::applyPendingLattice()
{
    EngineState& e = engine;
    const int order = e.order.load(kRelaxed);
    const float smoothing = e.smoothing.load(kRelaxed);
    for (CLattice* l : e.lattice) {
        if (l->getOrder() != order)
            l->setOrder(order);
        if (l->getSmoothing() != smoothing)
            l->setSmoothing(smoothing);
    }
}

void fxSkorvaline::pollTempo()
{
    EngineState& e = engine;
    const bool delaySync = e.syncDelay.load(kRelaxed) >= eng::kSyncThreshold;
    const bool scanSync = e.syncScan.load(kRelaxed) >= eng::kSyncThreshold;
    if (!delaySync && !scanSync)
        return;
    if (--e.tempoCountdown >= 0)
        return;

    const HostTime time = readHostTime(getTimeInfo(kTimeInfoRequest));
    const TempoSnapshot previous = tempoState.replace(tempoFor(time.tempo));
    const TempoSnapshot now = tempoState.load();
    const double oldBps = static_cast<double>(previous.bpm) / 60.0;
    const double newBps = static_cast<double>(now.bpm) / 60.0;
    // The lines and the step follow at applyPendingLines, right after this poll.
    if (newBps != oldBps)
        e.tempoMoved = true;
    if (scanSync) {
        const StepTime step = computeStepTime(e.stepValue.load(kRelaxed), e.syncScan.load(kRelaxed),
                                              now.samplesPerBeat);
        // Follow the host's bar grid: the phase is where the song position falls inside the
        // current step, unless the step is nearly over.
        const double t =
            step.unitsPerBeat > 0.0 ? step.units / step.unitsPerBeat * time.timeSigNumerator : 0.0;
        if (t > 0.0) {
            const double u = (time.timeSigDenominator * time.barStart + time.songPosition) / t;
            if (std::isfinite(u)) {
                const double frac = u - std::floor(u);
                if (frac < eng::kRealignLimit)
                    e.scanPhase = frac;
            }
        }
    }
    e.tempoCountdown = std::fabs(newBps - oldBps) < eng::kTempoChangeThreshold
                           ? eng::kTempoPollSteady
                           : eng::kTempoPollChanged;
}

// ---- scan step -----------------------------------------------------------------------------

void fxSkorvaline::scanFilterMap(float* column, int stepCounter, int count,
                                 kfx::CBitmapArrayAnalyser* map)
{
    count = std::clamp(count, 0, eng::kColumnCapacity);
    // Validity and width as the map's value array has them: the picture holder itself may be
    // replaced by the editor's thread at this very moment, so it is not read from here.
    if (!map || !map->hasArray()) {
        fillSeededColumn(column, count, static_cast<unsigned>(stepCounter));
        return;
    }
    const float loopLength =
        (map->getLoopStop() - map->getLoopStart()) * static_cast<float>(map->getArrayWidth());
    float index = map->getScanIndex();
    // An empty or undefined loop window holds the index where it is instead of pushing it to
    // infinity; a reversed window scans backwards and wraps at both ends.
    if (loopLength != 0.0f && std::isfinite(loopLength)) {
        index += 1.0f / loopLength;
        if (index > 1.0f)
            index -= 1.0f;
        if (index < 0.0f)
            index += 1.0f;
        map->setScanIndex(index);
    }
    // The previous column stays (already conditioned) when the map is being replaced just now.
    if (map->tryGetColumn(column, count) && map->getAnalysis() < kConditionThreshold)
        conditionColumn(column, engine.order.load(kRelaxed), count);
    // The map holds the index (getParameter reads it there); the program takes it when it is
    // saved or left, so the audio thread writes nothing the other thread copies.
    engineMovedParameter(map->getName() == "L" ? kParamLIndex : kParamRIndex, map->getScanIndex());
}

void fxSkorvaline::analyseDelayLine(int line, float* column)
{
    EngineState& e = engine;
    const Delay<float>& d = *e.lines[line];
    float* frame = e.analysisFrame;
    float s = 0.0f;
    for (int k = 0; k < eng::kAnalysisLength; ++k) {
        const float x = k < d.getLength() ? d.oldest(k) : 0.0f;
        s = eng::kPreEmphasisNew * x + eng::kPreEmphasisOld * s;
        frame[k] = x - s;
    }
    e.lpc->extract(frame, column, e.order.load(kRelaxed), eng::kAnalysisWarp);
}

void fxSkorvaline::scanStep()
{
    EngineState& e = engine;
    const float tabL = e.tabFilter[0].load(kRelaxed);
    const float tabR = e.tabFilter[1].load(kRelaxed);
    if (tabL < kTabAnalysisThreshold)
        scanFilterMap(e.columnL, e.scanCounter, eng::kColumnSize, e.map(0));
    else
        analyseDelayLine(kLineL, e.columnL);
    if (tabR < kTabRightMap)
        scanFilterMap(e.columnR, e.scanCounter, eng::kColumnSize, e.map(1));
    else if (tabR < kTabRightAnalysis)
        analyseDelayLine(kLineR, e.columnR);
    else
        std::memcpy(e.columnR, e.columnL, sizeof(float) * eng::kColumnSize);

    const int order = e.order.load(kRelaxed);
    e.lattice[0]->setTargetCoefficients(e.columnL, eng::kColumnSize);
    e.lattice[0]->setOrder(order);
    e.lattice[1]->setTargetCoefficients(e.columnR, eng::kColumnSize);
    e.lattice[1]->setOrder(order);
    e.bands[0]->setFromColumn(e.columnL);
    e.bands[1]->setFromColumn(e.columnR);
}

void fxSkorvaline::blowUp(int c, float* heldOutput, int n, bool finite)
{
    EngineState& e = engine;
    e.lines[kLineL + c]->clear();
    e.lattice[c]->clearState();
    e.lattice[c]->resetCoefficients();
    e.distort[c]->reset();
    e.distort[c]->setGain(1.0f);
    if (!finite) {
        // A non-finite value would pass every later stage unchanged: drop the held filter
        // output and the tone memories of the channel as well.
        std::memset(heldOutput, 0, sizeof(float) * static_cast<std::size_t>(n));
        e.toneLow[c] = 0.0f;
        e.toneOut[c] = 0.0f;
        e.lines[kLinePreL + c]->clear();
    }
}

// ---- the block -----------------------------------------------------------------------------

void fxSkorvaline::processBlock(float** inputs, float** outputs, VstInt32 sampleFrames,
                                int replacing)
{
    EngineState& e = engine;
    if (sampleFrames <= 0 || !inputs || !outputs || !e.work)
        return;
    const float* inL = inputs[0];
    const float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    if (!inL || !inR || !outL || !outR)
        return;
    ScopedFlushDenormals flushDenormals;

    const int N = sampleFrames;
    const float blockLength = static_cast<float>(N);

    // 1. Warp targets into [1e-6, 0.999] (kept in the block; the parameter keeps its value).
    float warpTarget[2];
    for (int c = 0; c < 2; ++c) {
        const float w = e.warp[c].load(kRelaxed);
        warpTarget[c] = w > eng::kWarpFloor ? std::min(w, eng::kWarpBlockCeiling) : eng::kWarpFloor;
    }
    // 2. Compressor time snapshot.
    const float attack[2] = {e.rateCoeff[0].load(kRelaxed), e.rateCoeff[1].load(kRelaxed)};
    const float release[2] = {e.decayCoeff[0].load(kRelaxed), e.decayCoeff[1].load(kRelaxed)};
    // 3. Pre-delays in use.
    const bool usePre[2] = {e.delay[kLinePreL].length.load(kRelaxed) > 0.0f,
                            e.delay[kLinePreR].length.load(kRelaxed) > 0.0f};
    // 4. Filter kind per channel.
    const bool useBand[2] = {e.map(0) && e.map(0)->getAnalysis() >= kBandKindThreshold,
                             e.map(1) && e.map(1)->getAnalysis() >= kBandKindThreshold};
    // 5. Tempo poll, then the delay, step, order and smoothing settings posted since the last
    // block.
    pollTempo();
    applyPendingLines();
    applyPendingLattice();

    // 6. Per-block increments.
    float warpS[2] = {e.warpSmoothed[0], e.warpSmoothed[1]};
    const float warpInc[2] = {(warpTarget[0] - warpS[0]) / blockLength,
                              (warpTarget[1] - warpS[1]) / blockLength};
    auto ramp = [blockLength](float target, float& smoothed) {
        float inc = (target - smoothed) / blockLength;
        if (std::fabs(inc) < eng::kSnapIncrement) {
            smoothed = target;
            inc = 0.0f;
        }
        return inc;
    };
    const float cutoffTarget[2] = {e.cutoff[0].load(kRelaxed), e.cutoff[1].load(kRelaxed)};
    float cutS[2] = {e.cutoffSmoothed[0], e.cutoffSmoothed[1]};
    const float cutInc[2] = {ramp(cutoffTarget[0], cutS[0]), ramp(cutoffTarget[1], cutS[1])};
    float mixS = e.mixSmoothed;
    const float mixInc = ramp(e.mix.load(kRelaxed), mixS);
    float volS = e.volumeSmoothed;
    const float volInc = ramp(e.volume.load(kRelaxed), volS);
    float gain[4];
    float gainTarget[4];
    for (int g = 0; g < 4; ++g) {
        gain[g] =
            std::fabs(e.feedbackSmoothed[g]) <= eng::kGainFlush ? 0.0f : e.feedbackSmoothed[g];
        gainTarget[g] = e.feedback[g].load(kRelaxed);
    }
    const double scanInc = 1.0 / (e.stepLengthInUse - 1.0);
    // 7. Tone-section high-pass poles.
    const float pole[2] = {1.0f - eng::kTonePoleScale * (cutoffTarget[0] + cutS[0]),
                           1.0f - eng::kTonePoleScale * (cutoffTarget[1] + cutS[1])};
    // 8. Partition.
    const int R = e.resolution;
    const int n = (N % R == 0) ? R : 1;

    const float envCoeff = e.envelopeCoeff.load(kRelaxed);
    const bool oversample = e.oversample.load(kRelaxed) >= 0.5f;
    const float resonance[2] = {e.resonance[0].load(kRelaxed), e.resonance[1].load(kRelaxed)};

    const std::size_t stride = static_cast<std::size_t>(e.resolution4);
    float* const A0 = e.work;
    float* const A1 = A0 + stride;
    float* const A2 = A1 + stride;
    float* const A3 = A2 + stride;
    float* const A4 = A3 + stride;
    float* const A5 = A4 + stride;
    float* const A6 = A5 + stride;
    float* const A7 = A6 + stride;

    Delay<float>& preL = *e.lines[kLinePreL];
    Delay<float>& preR = *e.lines[kLinePreR];
    Delay<float>& lineL = *e.lines[kLineL];
    Delay<float>& lineR = *e.lines[kLineR];
    CLattice& latL = *e.lattice[0];
    CLattice& latR = *e.lattice[1];

    float envelope = e.envelope;
    float offset = e.offset;
    float lowL = e.toneLow[0], lowR = e.toneLow[1];
    float toneL = e.toneOut[0], toneR = e.toneOut[1];
    double phase = e.scanPhase;

    for (int pos = 0; pos < N; pos += n) {
        const float* xL = inL + pos;
        const float* xR = inR + pos;

        // 1. Envelope follower, once per sub-block.
        float env = 1.0f;
        if (envCoeff < 1.0f) {
            const float level = eng::kEnvelopeLevelScale *
                                (std::fabs(finiteOrZero(xL[0])) + std::fabs(finiteOrZero(xR[0])));
            if (level > envelope) {
                envelope = 1.0f + (envelope - 1.0f) * eng::kEnvelopeAttack;
            }
            else {
                envelope *= envCoeff;
                if (envelope < eng::kEnvelopeFloor)
                    envelope = 0.0f;
            }
            if (envelope > 1.0f)
                envelope = 1.0f;
            env = envelope;
        }
        // 2. Gated feedback increments.
        float gainInc[4];
        for (int g = 0; g < 4; ++g)
            gainInc[g] = (env * gainTarget[g] - gain[g]) / blockLength;

        // 3. Lattice glide of both channels under their locks, in one two-lane pass. When both
        // channels run the lattice, the same pass prepares the filtering pass's first
        // prediction (used there only if nothing touched the lattices in between).
        usp::StereoPrediction prediction;
        glideLatticePair(latL, latR, warpS[0], resonance[0], warpS[1], resonance[1],
                         (!useBand[0] && !useBand[1]) ? &prediction : nullptr);

        // 4. Pass 1: pre-delays and the scan clock.
        for (int i = 0; i < n; ++i) {
            const float l = finiteOrZero(xL[i]);
            const float r = finiteOrZero(xR[i]);
            A0[i] = (usePre[0] ? preL.processSample(l) : l) + offset;
            A1[i] = (usePre[1] ? preR.processSample(r) : r) + offset;
            offset = -offset;
            phase += scanInc;
            if (phase >= 1.0) {
                scanStep();
                ++e.scanCounter;
                phase = 0.0;
            }
        }

        // 5. Blow-up guard (non-finite values count as blown up).
        const float yL = (useBand[0] ? e.bands[0]->getOutput() : latL.output) + offset;
        const float yR = (useBand[1] ? e.bands[1]->getOutput() : latR.output) + offset;
        if (!(std::fabs(yL) + std::fabs(yR) < eng::kBlowUpLimit)) {
            if (!(std::fabs(yL) < eng::kBlowUpLimit))
                blowUp(0, A2, n, std::isfinite(yL));
            if (!(std::fabs(yR) < eng::kBlowUpLimit))
                blowUp(1, A3, n, std::isfinite(yR));
        }

        // 6. and 7. Compressor and saturation on the previous sub-block's filter output, both
        // channels in one two-lane pass (bit-identical to one call per channel).
        for (int c = 0; c < 2; ++c) {
            e.distort[c]->configure(oversample, e.saturation[c].load(kRelaxed),
                                    e.threshold[c].load(kRelaxed), attack[c], release[c],
                                    e.ratio[c].load(kRelaxed));
        }
        processStereo(*e.distort[0], *e.distort[1], A2, A3, n);

        // 8. Pass 3: tone section, feedback matrix, main delay lines.
        {
            float cl = cutS[0], cr = cutS[1];
            float gLL = gain[0], gLR = gain[1], gRL = gain[2], gRR = gain[3];
            const float pL = pole[0], pR = pole[1];
            for (int i = 0; i < n; ++i) {
                cl += cutInc[0];
                cr += cutInc[1];
                gLL += gainInc[0];
                gLR += gainInc[1];
                gRL += gainInc[2];
                gRR += gainInc[3];
                const float aL = A2[i];
                lowL = aL + pL * (lowL - aL);
                const float hL = aL - lowL;
                A2[i] = hL;
                toneL = toneL + cl * (hL - toneL);
                const float aR = A3[i];
                lowR = aR + pR * (lowR - aR);
                const float hR = aR - lowR;
                A3[i] = hR;
                toneR = toneR + cr * (hR - toneR);
                const float wL = toneL;
                const float wR = toneR;
                A6[i] = wL;
                A7[i] = wR;
                A4[i] = lineL.processSample(A0[i] + gLL * wL + gRL * wR);
                A5[i] = lineR.processSample(A1[i] + gLR * wL + gRR * wR);
            }
            cutS[0] = cl;
            cutS[1] = cr;
            gain[0] = gLL;
            gain[1] = gLR;
            gain[2] = gRL;
            gain[3] = gRR;
        }

        // 9. Pass 4, with both lattice locks held (left first): filters, mix and volume.
        {
            std::lock_guard<CLattice> lockL(latL);
            std::lock_guard<CLattice> lockR(latR);
            if (!useBand[0] && !useBand[1]) {
                usp::processStereoLattice(latL, latR, A4, A5, A2, A3, n, &prediction);
                for (int i = 0; i < n; ++i) {
                    warpS[0] += warpInc[0];
                    warpS[1] += warpInc[1];
                }
            }
            else {
                float* const filterIn[2] = {A4, A5};
                float* const filterOut[2] = {A2, A3};
                CLattice* const lat[2] = {&latL, &latR};
                for (int c = 0; c < 2; ++c) {
                    if (useBand[c]) {
                        e.bands[c]->process(filterIn[c], filterOut[c], n, warpS[c], warpInc[c],
                                            resonance[c]);
                    }
                    else {
                        for (int i = 0; i < n; ++i) {
                            warpS[c] += warpInc[c];
                            filterOut[c][i] = lat[c]->process(filterIn[c][i]);
                        }
                    }
                }
            }
            float* oL = outL + pos;
            float* oR = outR + pos;
            if (replacing) {
                for (int i = 0; i < n; ++i) {
                    mixS += mixInc;
                    volS += volInc;
                    const float dl = finiteOrZero(xL[i]);
                    const float dr = finiteOrZero(xR[i]);
                    oL[i] = ((A6[i] - dl) * mixS + dl) * volS;
                    oR[i] = ((A7[i] - dr) * mixS + dr) * volS;
                }
            }
            else {
                for (int i = 0; i < n; ++i) {
                    mixS += mixInc;
                    volS += volInc;
                    const float dl = finiteOrZero(xL[i]);
                    const float dr = finiteOrZero(xR[i]);
                    oL[i] += ((A6[i] - dl) * mixS + dl) * volS;
                    oR[i] += ((A7[i] - dr) * mixS + dr) * volS;
                }
            }
        }
    }

    e.warpSmoothed[0] = warpS[0];
    e.warpSmoothed[1] = warpS[1];
    e.cutoffSmoothed[0] = cutS[0];
    e.cutoffSmoothed[1] = cutS[1];
    e.mixSmoothed = mixS;
    e.volumeSmoothed = volS;
    for (int g = 0; g < 4; ++g)
        e.feedbackSmoothed[g] = gain[g];
    e.envelope = envelope;
    e.offset = offset;
    e.toneLow[0] = lowL;
    e.toneLow[1] = lowR;
    e.toneOut[0] = toneL;
    e.toneOut[1] = toneR;
    e.scanPhase = phase;
}

kfx::CBitmapArrayAnalyser* fxSkorvaline::filterMapInfo(bool left) const
{
    return engine.map(left ? 0 : 1);
}
