// The audio engine's block: pre-delays, main delays with the envelope-gated feedback matrix,
// the scan clock, lattice or band filters, compressor and saturation, tone section, mix and
// volume; the block-start helpers (tempo poll, posted settings) and the life cycle of the audio
// units. The scan step itself is in SkorvalineScan.cpp.
//
// A block is split into sub-blocks of the configured resolution R (or of one sample when the
// block length is not a multiple of R). Each sub-block runs four passes over the eight work
// arrays of WorkArrays; a filter's output is held over, so it reaches the compressor, the tone
// section, the output and the feedback one sub-block later. Everything here runs on the audio
// thread except the life-cycle functions and clearAudioState (resume), which hosts call while
// no audio runs.
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
#include "plugin/ScanColumn.h"

using namespace skv;
namespace eng = skv::engine;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kBandKindThreshold = 0.6666667f;
constexpr int kWorkArrays = 8;  // the arrays of WorkArrays, each resolution4 floats

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
        {
            std::lock_guard<std::recursive_mutex> guard(l->lock);
            l->smoothing = eng::kInitialSmoothing;
        }
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
        if (l->order != order)
            l->setOrder(order);
        if (l->smoothing != smoothing) {
            std::lock_guard<std::recursive_mutex> guard(l->lock);
            l->smoothing = smoothing;
        }
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

// ---- the block: what it holds ----------------------------------------------------------------

namespace skv {

// What a block takes from the targets once, at its start: the switches of its units, the
// per-block increments of the gliding values and the sub-block length. The gliding values
// themselves stay in the engine's smoothed copies, which each pass takes into locals and
// writes back.
struct BlockSetup {
    float length = 1.0f;  // the block's frames: the divisor of every per-block increment
    int subBlock = 1;     // the resolution R, or 1 when R does not divide the block
    bool usePre[2] = {false, false};   // a pre-delay longer than 0 is in use
    bool useBand[2] = {false, false};  // the band bank filters instead of the lattice
    bool oversample = false;
    float envelopeCoeff = 1.0f;
    float warpInc[2] = {0.0f, 0.0f};
    float cutoffInc[2] = {0.0f, 0.0f};
    float mixInc = 0.0f;
    float volumeInc = 0.0f;
    float gainTarget[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // feedback LL, LR, RL, RR
    double scanInc = 0.0;                            // scan phase per sample
    float pole[2] = {0.0f, 0.0f};                    // tone-section high-pass poles
    float attack[2] = {0.0f, 0.0f};
    float release[2] = {0.0f, 0.0f};
    float resonance[2] = {0.0f, 0.0f};

    // Both channels run the lattice: the stereo kernel and the glide's prediction apply.
    bool bothLattices() const { return !useBand[0] && !useBand[1]; }
};

// The eight work arrays of a sub-block ([0] left, [1] right), named by what they hold.
struct WorkArrays {
    // Pass 1: the input after the pre-delay, with the anti-denormal offset; the main delay
    // lines take it in, together with the feedback.
    float* input[2];
    // The filters' output of the previous sub-block, held over: the compressor and saturation
    // work on it in place (pass 2), the tone section's high-pass in place (pass 3), and the
    // filters then write this sub-block's output into it (pass 4).
    float* filtered[2];
    // Pass 3: the main delay lines' output, the filters' input.
    float* delayed[2];
    // Pass 3: the wet signal (tone-section output), fed back and mixed into the output.
    float* wet[2];
};

}  // namespace skv

namespace {

WorkArrays workArrays(const EngineState& e)
{
    const std::size_t stride = static_cast<std::size_t>(e.resolution4);
    float* const a = e.work;
    auto at = [a, stride](std::size_t k) { return a + k * stride; };
    // The buffer's layout, left before right.
    return WorkArrays{{at(0), at(1)}, {at(2), at(3)}, {at(4), at(5)}, {at(6), at(7)}};
}

// ---- block start: targets and increments -------------------------------------------------

// The targets a block reads before the tempo poll and the posted settings are applied.
void readBlockTargets(const EngineState& e, BlockSetup& b, float warpTarget[2])
{
    for (int c = 0; c < 2; ++c) {
        // Kept in the block only; the parameter keeps its value.
        const float w = e.warp[c].load(kRelaxed);
        warpTarget[c] = w > eng::kWarpFloor ? std::min(w, eng::kWarpBlockCeiling) : eng::kWarpFloor;
        b.attack[c] = e.rateCoeff[c].load(kRelaxed);
        b.release[c] = e.decayCoeff[c].load(kRelaxed);
        b.resonance[c] = e.resonance[c].load(kRelaxed);
        b.usePre[c] = e.delay[kLinePreL + c].length.load(kRelaxed) > 0.0f;
        b.useBand[c] = e.map(c) && e.map(c)->getAnalysis() >= kBandKindThreshold;
    }
    b.envelopeCoeff = e.envelopeCoeff.load(kRelaxed);
    b.oversample = e.oversample.load(kRelaxed) >= 0.5f;
}

// Increment that takes smoothed to target over the block; a step too small to matter snaps
// smoothed to the target at once instead.
float rampIncrement(float target, float& smoothed, float blockLength)
{
    float inc = (target - smoothed) / blockLength;
    if (std::fabs(inc) < eng::kSnapIncrement) {
        smoothed = target;
        inc = 0.0f;
    }
    return inc;
}

// Per-block increments of the gliding values, the tone poles and the sub-block length.
void setBlockIncrements(EngineState& e, BlockSetup& b, const float warpTarget[2])
{
    for (int c = 0; c < 2; ++c) {
        // Warp glides without snapping: the lattice follows it sample by sample.
        b.warpInc[c] = (warpTarget[c] - e.warpSmoothed[c]) / b.length;
        const float cutoff = e.cutoff[c].load(kRelaxed);
        b.cutoffInc[c] = rampIncrement(cutoff, e.cutoffSmoothed[c], b.length);
        b.pole[c] = 1.0f - eng::kTonePoleScale * (cutoff + e.cutoffSmoothed[c]);
    }
    b.mixInc = rampIncrement(e.mix.load(kRelaxed), e.mixSmoothed, b.length);
    b.volumeInc = rampIncrement(e.volume.load(kRelaxed), e.volumeSmoothed, b.length);
    for (int g = 0; g < 4; ++g) {
        if (std::fabs(e.feedbackSmoothed[g]) <= eng::kGainFlush)
            e.feedbackSmoothed[g] = 0.0f;
        b.gainTarget[g] = e.feedback[g].load(kRelaxed);
    }
    b.scanInc = 1.0 / (e.stepLengthInUse - 1.0);
}

// ---- sub-block steps ---------------------------------------------------------------------

// Envelope follower, once per sub-block from its first input frame: the gate of the
// feedback. 1 (feedback fully open) when the follower is off.
float followEnvelope(EngineState& e, const BlockSetup& b, float left, float right)
{
    if (!(b.envelopeCoeff < 1.0f))
        return 1.0f;
    float envelope = e.envelope;
    const float level =
        eng::kEnvelopeLevelScale * (std::fabs(finiteOrZero(left)) + std::fabs(finiteOrZero(right)));
    if (level > envelope) {
        envelope = 1.0f + (envelope - 1.0f) * eng::kEnvelopeAttack;
    }
    else {
        envelope *= b.envelopeCoeff;
        if (envelope < eng::kEnvelopeFloor)
            envelope = 0.0f;
    }
    if (envelope > 1.0f)
        envelope = 1.0f;
    e.envelope = envelope;
    return envelope;
}

// Feedback gains glide towards their targets scaled by the envelope, one block's share of the
// way per sub-block.
void feedbackIncrements(const EngineState& e, const BlockSetup& b, float envelope, float gainInc[4])
{
    for (int g = 0; g < 4; ++g)
        gainInc[g] = (envelope * b.gainTarget[g] - e.feedbackSmoothed[g]) / b.length;
}

// Pass 2: compressor and saturation on the previous sub-block's filter output, both channels
// in one two-lane pass (bit-identical to one call per channel).
void compressAndSaturate(EngineState& e, const BlockSetup& b, const WorkArrays& w)
{
    for (int c = 0; c < 2; ++c) {
        e.distort[c]->configure(b.oversample, e.saturation[c].load(kRelaxed),
                                e.threshold[c].load(kRelaxed), b.attack[c], b.release[c],
                                e.ratio[c].load(kRelaxed));
    }
    processStereo(*e.distort[0], *e.distort[1], w.filtered[0], w.filtered[1], b.subBlock);
}

// Pass 3: the tone section (one-pole high-pass, then the cutoff's low-pass) makes the wet
// signal, which the feedback matrix adds to the input of the main delay lines.
void toneAndDelays(EngineState& e, const BlockSetup& b, const float gainInc[4], const WorkArrays& w)
{
    Delay<float>& lineL = *e.lines[kLineL];
    Delay<float>& lineR = *e.lines[kLineR];
    // Locals, so that the compiler need not assume the arrays' stores change them.
    float cl = e.cutoffSmoothed[0], cr = e.cutoffSmoothed[1];
    float gLL = e.feedbackSmoothed[0], gLR = e.feedbackSmoothed[1];
    float gRL = e.feedbackSmoothed[2], gRR = e.feedbackSmoothed[3];
    float lowL = e.toneLow[0], lowR = e.toneLow[1];
    float toneL = e.toneOut[0], toneR = e.toneOut[1];
    const float pL = b.pole[0], pR = b.pole[1];
    float* const hiL = w.filtered[0];
    float* const hiR = w.filtered[1];
    for (int i = 0; i < b.subBlock; ++i) {
        cl += b.cutoffInc[0];
        cr += b.cutoffInc[1];
        gLL += gainInc[0];
        gLR += gainInc[1];
        gRL += gainInc[2];
        gRR += gainInc[3];
        const float aL = hiL[i];
        lowL = aL + pL * (lowL - aL);
        const float hL = aL - lowL;
        hiL[i] = hL;
        toneL = toneL + cl * (hL - toneL);
        const float aR = hiR[i];
        lowR = aR + pR * (lowR - aR);
        const float hR = aR - lowR;
        hiR[i] = hR;
        toneR = toneR + cr * (hR - toneR);
        w.wet[0][i] = toneL;
        w.wet[1][i] = toneR;
        w.delayed[0][i] = lineL.processSample(w.input[0][i] + gLL * toneL + gRL * toneR);
        w.delayed[1][i] = lineR.processSample(w.input[1][i] + gLR * toneL + gRR * toneR);
    }
    e.cutoffSmoothed[0] = cl;
    e.cutoffSmoothed[1] = cr;
    e.feedbackSmoothed[0] = gLL;
    e.feedbackSmoothed[1] = gLR;
    e.feedbackSmoothed[2] = gRL;
    e.feedbackSmoothed[3] = gRR;
    e.toneLow[0] = lowL;
    e.toneLow[1] = lowR;
    e.toneOut[0] = toneL;
    e.toneOut[1] = toneR;
}

// Pass 4: the delay output through the filters, with both lattice locks held (left first).
// The warp glides sample by sample even where the stereo kernel runs on its own.
void filterPass(EngineState& e, const BlockSetup& b, const WorkArrays& w,
                usp::StereoPrediction* prediction)
{
    CLattice* const lat[2] = {e.lattice[0], e.lattice[1]};
    std::lock_guard<std::recursive_mutex> lockL(lat[0]->lock);
    std::lock_guard<std::recursive_mutex> lockR(lat[1]->lock);
    const int n = b.subBlock;
    if (b.bothLattices()) {
        usp::processStereoLattice(*lat[0], *lat[1], w.delayed[0], w.delayed[1], w.filtered[0],
                                  w.filtered[1], n, prediction);
        for (int i = 0; i < n; ++i) {
            e.warpSmoothed[0] += b.warpInc[0];
            e.warpSmoothed[1] += b.warpInc[1];
        }
        return;
    }
    for (int c = 0; c < 2; ++c) {
        if (b.useBand[c]) {
            e.bands[c]->process(w.delayed[c], w.filtered[c], n, e.warpSmoothed[c], b.warpInc[c],
                                b.resonance[c]);
            continue;
        }
        for (int i = 0; i < n; ++i) {
            e.warpSmoothed[c] += b.warpInc[c];
            w.filtered[c][i] = lat[c]->process(w.delayed[c][i]);
        }
    }
}

// Output: the wet signal mixed with the dry input, at the volume; Adding adds to what the
// host's buffers hold (process), otherwise replaces it (processReplacing).
template <bool Adding>
void writeOutput(EngineState& e, const BlockSetup& b, const float* const x[2], const WorkArrays& w,
                 float* const out[2])
{
    float mix = e.mixSmoothed;
    float volume = e.volumeSmoothed;
    for (int i = 0; i < b.subBlock; ++i) {
        mix += b.mixInc;
        volume += b.volumeInc;
        for (int c = 0; c < 2; ++c) {
            const float dry = finiteOrZero(x[c][i]);
            const float y = ((w.wet[c][i] - dry) * mix + dry) * volume;
            if constexpr (Adding)
                out[c][i] += y;
            else
                out[c][i] = y;
        }
    }
    e.mixSmoothed = mix;
    e.volumeSmoothed = volume;
}

}  // namespace

// ---- the block: its steps ------------------------------------------------------------------

BlockSetup fxSkorvaline::startBlock(VstInt32 sampleFrames)
{
    EngineState& e = engine;
    BlockSetup b;
    b.length = static_cast<float>(sampleFrames);
    b.subBlock = (sampleFrames % e.resolution == 0) ? e.resolution : 1;
    float warpTarget[2];
    readBlockTargets(e, b, warpTarget);
    // The delay, step, order and smoothing settings posted since the last block.
    pollTempo();
    applyPendingLines();
    applyPendingLattice();
    setBlockIncrements(e, b, warpTarget);
    return b;
}

void fxSkorvaline::preDelayAndScan(const BlockSetup& b, const float* const x[2],
                                   const WorkArrays& w)
{
    EngineState& e = engine;
    Delay<float>& preL = *e.lines[kLinePreL];
    Delay<float>& preR = *e.lines[kLinePreR];
    float offset = e.offset;
    double phase = e.scanPhase;
    for (int i = 0; i < b.subBlock; ++i) {
        const float l = finiteOrZero(x[0][i]);
        const float r = finiteOrZero(x[1][i]);
        w.input[0][i] = (b.usePre[0] ? preL.processSample(l) : l) + offset;
        w.input[1][i] = (b.usePre[1] ? preR.processSample(r) : r) + offset;
        offset = -offset;
        phase += b.scanInc;
        if (phase >= 1.0) {
            scanStep();
            ++e.scanCounter;
            phase = 0.0;
        }
    }
    e.offset = offset;
    e.scanPhase = phase;
}

void fxSkorvaline::guardBlowUp(const BlockSetup& b, const WorkArrays& w)
{
    EngineState& e = engine;
    // Non-finite outputs fail the comparisons and count as blown up.
    const float yL = (b.useBand[0] ? e.bands[0]->getOutput() : e.lattice[0]->output) + e.offset;
    const float yR = (b.useBand[1] ? e.bands[1]->getOutput() : e.lattice[1]->output) + e.offset;
    if (std::fabs(yL) + std::fabs(yR) < eng::kBlowUpLimit)
        return;
    if (!(std::fabs(yL) < eng::kBlowUpLimit))
        blowUp(0, w.filtered[0], b.subBlock, std::isfinite(yL));
    if (!(std::fabs(yR) < eng::kBlowUpLimit))
        blowUp(1, w.filtered[1], b.subBlock, std::isfinite(yR));
}

void fxSkorvaline::processSubBlock(const BlockSetup& b, const float* const x[2],
                                   float* const out[2], bool replacing)
{
    EngineState& e = engine;
    const WorkArrays w = workArrays(e);
    const float envelope = followEnvelope(e, b, x[0][0], x[1][0]);
    float gainInc[4];
    feedbackIncrements(e, b, envelope, gainInc);
    // The glide of both lattices, in one two-lane pass. When both channels run the lattice it
    // also prepares the filter pass's first prediction (used there only if nothing touched the
    // lattices in between).
    usp::StereoPrediction prediction;
    usp::StereoPrediction* const predict = b.bothLattices() ? &prediction : nullptr;
    glideLatticePair(*e.lattice[0], *e.lattice[1], e.warpSmoothed[0], b.resonance[0],
                     e.warpSmoothed[1], b.resonance[1], predict);
    preDelayAndScan(b, x, w);
    guardBlowUp(b, w);
    compressAndSaturate(e, b, w);
    toneAndDelays(e, b, gainInc, w);
    filterPass(e, b, w, predict);
    if (replacing)
        writeOutput<false>(e, b, x, w, out);
    else
        writeOutput<true>(e, b, x, w, out);
}

void fxSkorvaline::processBlock(float** inputs, float** outputs, VstInt32 sampleFrames,
                                int replacing)
{
    if (sampleFrames <= 0 || !inputs || !outputs || !engine.work)
        return;
    if (!inputs[0] || !inputs[1] || !outputs[0] || !outputs[1])
        return;
    ScopedFlushDenormals flushDenormals;
    const BlockSetup b = startBlock(sampleFrames);
    for (VstInt32 pos = 0; pos < sampleFrames; pos += b.subBlock) {
        const float* const x[2] = {inputs[0] + pos, inputs[1] + pos};
        float* const out[2] = {outputs[0] + pos, outputs[1] + pos};
        processSubBlock(b, x, out, replacing != 0);
    }
}

kfx::CBitmapArrayAnalyser* fxSkorvaline::filterMapInfo(bool left) const
{
    return engine.map(left ? 0 : 1);
}
