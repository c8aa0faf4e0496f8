// State of the audio engine held by the effect: the parameter targets written by setParameter,
// the smoothed values and memories only the audio thread touches, the tempo-poll and scan
// clocks, and the audio units (created once at construction, never on the audio path).
//
// Threads: fields under "targets" are written by setParameter (any thread: host automation,
// programs, the editor) and read by the audio thread once per block or sub-block; they are
// relaxed atomics, which cost a plain load or store on x86. Changes that must reach a unit are
// applied by the audio thread at the start of its next block, so that only the audio thread
// touches the delay lines and the lattices while processing: delay lengths and the step time
// are posted with a serial number, directions, filter order and smoothing are compared with
// the ones applied. The audio thread itself writes only the fields under "published" (what
// the tempo poll re-snapped) and those under "audio thread"; it never writes a program.
#pragma once

#include <atomic>
#include <memory>

#include "plugin/EngineConfig.h"

template <typename T>
class Delay;
class CSelBand;
class os2Distort;
namespace usp {
template <typename T, int Capacity>
class CUnitWIIRLattice;
template <typename T, int FrameCapacity, int CoeffCapacity>
class CWarpedLPCExtraction;
}  // namespace usp
namespace kfx {
class CBitmapArrayAnalyser;
}

namespace skv {

using CLattice = usp::CUnitWIIRLattice<float, kLatticeCapacity>;
using CLpcExtraction = usp::CWarpedLPCExtraction<float, kLpcFrameCapacity, kLpcCoeffCapacity>;

/// One delay line's parameter record: the delay-time rule's results for its index.
struct DelayRecord {
    /// As last set by the user, the host or a program; every re-snap (tempo, order, sync
    /// mode) starts from it, never from an earlier snap, so that no snap can creep.
    std::atomic<float> userValue{0.0f};
    // ---- published: the rule's results at the tempo in force (written by whoever computed
    // them last: setParameter, or the audio thread after a tempo change) ----
    std::atomic<float> value{0.0f};   ///< normalised (snapped in synced mode)
    std::atomic<float> length{0.0f};  ///< samples at 44.1 kHz
    std::atomic<double> beats{0.0};   ///< synced length in beats
    std::atomic<int> units{0};        ///< synced unit count
    std::atomic<bool> synced{false};
    std::atomic<unsigned> serial{0};  ///< raised after every new length (release)

    /// Publishes a delay-time rule result (a DelayTime of the parameter table).
    template <typename Result>
    void publish(const Result& t)
    {
        constexpr auto relaxed = std::memory_order_relaxed;
        value.store(t.normalised, relaxed);
        length.store(t.length, relaxed);
        beats.store(t.beats, relaxed);
        units.store(t.units, relaxed);
        synced.store(t.synced, relaxed);
    }
};

/// Line order used throughout: left pre-delay, right pre-delay, left delay, right delay.
enum DelayLineIndex { kLinePreL = 0, kLinePreR, kLineL, kLineR, kNumLines };

struct EngineState {
    // ---- targets (any thread; relaxed atomics) -----------------------------------------
    DelayRecord delay[kNumLines];
    std::atomic<float> direction[2] = {{0.0f}, {0.0f}};
    std::atomic<float> feedback[4] = {{0.0f}, {0.0f}, {0.0f}, {0.0f}};  // LL, LR, RL, RR gains
    // Warp and cutoff start at 0.5, mix at 0 and volume at 1 (here and in the smoothed copies
    // below): the values the smoothed copies glide from until program 0 sets the real targets.
    std::atomic<float> warp[2] = {{0.5f}, {0.5f}};
    std::atomic<float> resonance[2] = {{0.5f}, {0.5f}};
    std::atomic<float> cutoff[2] = {{0.5f}, {0.5f}};
    std::atomic<float> thresholdValue[2] = {{0.5f}, {0.5f}};   // x
    std::atomic<float> threshold[2] = {{0.0625f}, {0.0625f}};  // x^4
    std::atomic<float> ratio[2] = {{0.2f}, {0.2f}};            // 2x
    std::atomic<float> ratioCurve[2] = {{0.0f}, {0.0f}};       // 1 - e^(-2x)
    std::atomic<float> rateValue[2] = {{0.4f}, {0.4f}};
    std::atomic<float> rateCoeff[2] = {{0.9f}, {0.9f}};
    std::atomic<float> decayValue[2] = {{0.4f}, {0.4f}};
    std::atomic<float> decayCoeff[2] = {{0.9f}, {0.9f}};
    std::atomic<float> saturation[2] = {{0.0f}, {0.0f}};
    std::atomic<float> tabFilter[2] = {{0.0f}, {0.0f}};
    std::atomic<float> orderValue{0.0f};
    std::atomic<int> order{engine::kInitialOrder};
    std::atomic<float> stepValue{0.0f};
    std::atomic<unsigned> stepSerial{0};  ///< raised after every Step Time or Sync Scan change
    // Published step-time results (display); the audio thread runs on its own copies below.
    std::atomic<double> stepLength{32.0};
    std::atomic<int> stepUnits{0};
    std::atomic<double> stepUnitsPerBeat{0.0};
    std::atomic<float> timeConstant{0.0f};
    std::atomic<float> smoothing{0.0f};  ///< b = 1 - e^(-15 x) of the time constant
    std::atomic<float> mix{0.0f};
    std::atomic<float> volume{1.0f};  // gain x^4
    std::atomic<float> syncDelay{0.0f};
    std::atomic<float> syncScan{0.0f};
    std::atomic<float> oversample{0.0f};
    std::atomic<float> envelopeValue{0.0f};  // x of "Env. Follow Dcy"
    std::atomic<float> envelopeCoeff{0.0f};  // f

    // ---- audio thread ----------------------------------------------------------------------
    unsigned appliedSerial[kNumLines] = {0, 0, 0, 0};
    double appliedSamplesPerBeat = 0.0;  ///< tempo the lines' synced lengths were computed at
    bool tempoMoved = false;             ///< the last poll saw the beats per second change
    unsigned appliedStepSerial = 0;
    double stepLengthInUse = 32.0;  ///< the scan's step length, as the step-time rule gave it
    int stepUnitsInUse = 0;
    double stepUnitsPerBeatInUse = 0.0;
    bool appliedReverse[kNumLines] = {false, false, false, false};
    // Smoothed copies.
    float warpSmoothed[2] = {0.5f, 0.5f};
    float cutoffSmoothed[2] = {0.5f, 0.5f};
    float mixSmoothed = 0.0f;
    float volumeSmoothed = 1.0f;
    float feedbackSmoothed[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    // Tone section per channel: high-pass memory, low-pass (tone) memory.
    float toneLow[2] = {0.0f, 0.0f};
    float toneOut[2] = {0.0f, 0.0f};
    float envelope = 0.0f;
    float offset = engine::kEngineOffset;  // alternating anti-denormal offset of the first pass
    // Scan clock.
    double scanPhase = 0.0;
    int scanCounter = 0;
    // Tempo poll.
    int tempoCountdown = 0;
    // Work buffers (32-byte aligned, owned): columns of 100 floats, analysis frame of 512,
    // and eight arrays of resolution4 floats.
    float* columnL = nullptr;
    float* columnR = nullptr;
    float* analysisFrame = nullptr;
    float* work = nullptr;
    int resolution = 8;   // sub-block length R, from the configuration at construction
    int resolution4 = 8;  // R rounded up to a multiple of 4: the stride of the work arrays

    // ---- units (created at construction, owned) -------------------------------------------
    Delay<float>* lines[kNumLines] = {nullptr, nullptr, nullptr, nullptr};
    CLattice* lattice[2] = {nullptr, nullptr};
    CSelBand* bands[2] = {nullptr, nullptr};
    os2Distort* distort[2] = {nullptr, nullptr};
    CLpcExtraction* lpc = nullptr;
    /// The two filter maps "L" and "R", shared with the editor's displays; created before
    /// the programs, never replaced, released at destruction.
    std::shared_ptr<kfx::CBitmapArrayAnalyser> filterMaps[2];

    /// Channel c's filter map (null only before construction step 2 or after destruction);
    /// a plain pointer read, no share is taken.
    kfx::CBitmapArrayAnalyser* map(int c) const { return filterMaps[c].get(); }
};

}  // namespace skv
