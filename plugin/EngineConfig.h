// Named constants of the audio engine: the 44.1 kHz time base every length is expressed in,
// the scan and tempo-poll figures, start-up values and the safety limits of the block loop.
// Lengths and times here are in samples at 44.1 kHz whatever the host's sample rate; only the
// tempo arithmetic uses the real rate.
#pragma once

#include <cstdint>

#include "dsp/DspConfig.h"

// A namespace of its own, so that the shared DSP constants (time base, capacities) and these
// never collide as either header grows.
namespace skv::engine {

// Four seconds of delay at 44.1 kHz and 44.1 samples per millisecond.
constexpr double kFullDelay = 176400.0;
constexpr double kMsSamples = 44.1;
// The longest length a synced delay may reach (the ring keeps two guard samples).
constexpr double kMaxSyncedDelay = 176399.0;
// Requested size of each of the four delay lines.
constexpr int kDelayLineSamples = 176400;

// The scan step never runs faster than one column per 32 samples.
constexpr double kMinStepSamples = 32.0;

// Sync settings at or above this value select tempo sync (one sixth, as single precision).
constexpr float kSyncThreshold = 0.16666667f;

// Filter order range handed to the lattices (the parameter maps 0..1 onto it).
constexpr int kMinOrder = 2;
constexpr int kMaxOrder = 80;
// Below this order the band banks keep two bands; above, order / 4.
constexpr int kBandOrderThreshold = 12;

// Coefficient columns: 80 values used, 100 allocated (32-byte aligned).
constexpr int kColumnSize = 80;
constexpr int kColumnCapacity = 100;
constexpr int kSeededStartValues = 30;
constexpr unsigned kSeedLeft = 31;
constexpr unsigned kSeedRight = 47;

// Start-up configuration of the units.
constexpr int kInitialOrder = 12;
constexpr int kInitialBands = 3;
constexpr float kInitialSmoothing = 0.9f;

// Self-analysis of a delay line: 512 oldest samples, pre-emphasised, warped LPC at 0.85.
constexpr int kAnalysisLength = 512;
static_assert(kAnalysisLength == kSelfAnalysisLength, "analysis frame shared with the DSP units");
constexpr float kAnalysisWarp = 0.85f;
constexpr float kPreEmphasisNew = 0.02f;
constexpr float kPreEmphasisOld = 0.98f;

// Warp targets are clamped into this range at every block start.
constexpr float kWarpFloor = 1e-6f;
constexpr float kWarpBlockCeiling = 0.999f;
// The warp parameter itself never reaches 1.
constexpr float kWarpCeiling = 0.99999f;

// Alternating anti-denormal offset of the first pass, and the threshold below which smoothed
// values snap to their targets.
constexpr float kEngineOffset = 1e-13f;
constexpr float kSnapIncrement = 1e-12f;
constexpr float kGainFlush = 1e-15f;
constexpr float kEnvelopeFloor = 1e-8f;

// Envelope follower: input level scale and the attack weight of the old value.
constexpr float kEnvelopeLevelScale = 16.0f * 0.5f;
constexpr float kEnvelopeAttack = 0.7f;

// Blow-up guard: a channel whose filter output reaches this magnitude is cleared.
constexpr float kBlowUpLimit = 10000.0f;

// Tempo poll: blocks between polls while the tempo is steady, and after a change.
constexpr int kTempoPollSteady = 500;
constexpr int kTempoPollChanged = 5;
constexpr double kTempoChangeThreshold = 0.01;
// A host scan position this far into a step is not realigned (the step is about to end).
constexpr double kRealignLimit = 0.95;
// Request mask of the time-info call: transport changed, ppq, tempo, bars, time signature.
constexpr std::int32_t kTimeInfoMask = 0x2E01;
constexpr std::int32_t kTimeFlagPpqValid = 0x200;
constexpr std::int32_t kTimeFlagTempoValid = 0x400;
constexpr std::int32_t kTimeFlagBarsValid = 0x800;
constexpr std::int32_t kTimeFlagSignatureValid = 0x2000;
constexpr double kDefaultTempo = 120.0;
constexpr int kDefaultSignature = 4;

// Sub-block length used when the configuration hands out a resolution of 0 or below, and the
// largest one accepted (the work buffer is sized from it at construction).
constexpr int kFallbackResolution = 8;
constexpr int kMaxResolution = 8192;

// Tone section: the high-pass pole is 1 - kTonePoleScale * (target + smoothed cutoff).
constexpr float kTonePoleScale = 0.01f;

}  // namespace skv::engine
