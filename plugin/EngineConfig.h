// Named constants of the audio engine: the 44.1 kHz time base every length is expressed in,
// the scan and tempo-poll figures, start-up values and the safety limits of the block loop.
// Lengths and times here are in samples at 44.1 kHz whatever the host's sample rate; only the
// tempo arithmetic uses the real rate.
#pragma once

#include "dsp/DspConfig.h"

// A namespace of its own: the rules of the parameter table and the block loop read these by
// their engine names, while the figures the DSP units also need are taken from DspConfig.h.
namespace skv::engine {

/// Four seconds of delay at 44.1 kHz and 44.1 samples per millisecond.
constexpr double kFullDelay = kMaxDelaySamples;
constexpr double kMsSamples = kTimeBaseRate / 1000.0;
/// The longest length a synced delay may reach (the ring keeps two guard samples).
constexpr double kMaxSyncedDelay = kMaxDelayRequest;

/// The scan step never runs faster than one column per 32 samples.
constexpr double kMinStepSamples = 32.0;

/// Sync settings at or above this value select tempo sync (one sixth, as single precision).
constexpr float kSyncThreshold = 0.16666667f;

/// Filter order range handed to the lattices (the parameter maps 0..1 onto it).
constexpr int kMinOrder = kLatticeMinOrder;
constexpr int kMaxOrder = kMaxFilterOrder;
/// Below this order the band banks keep two bands; above, order / 4.
constexpr int kBandOrderThreshold = 12;

/// Coefficient columns: 80 values used, 100 allocated (32-byte aligned).
constexpr int kColumnSize = kFilterMapColumn;
constexpr int kColumnCapacity = 100;
constexpr int kSeededStartValues = 30;
constexpr unsigned kSeedLeft = 31;
constexpr unsigned kSeedRight = 47;

/// Start-up configuration of the units.
constexpr int kInitialOrder = 12;
constexpr int kInitialBands = 3;
constexpr float kInitialSmoothing = 0.9f;

/// Self-analysis of a delay line: 512 oldest samples, pre-emphasised, warped LPC at 0.85.
constexpr int kAnalysisLength = kSelfAnalysisLength;
constexpr float kAnalysisWarp = 0.85f;
constexpr float kPreEmphasisNew = 0.02f;
constexpr float kPreEmphasisOld = 0.98f;

/// Warp targets are clamped into this range at every block start.
constexpr float kWarpFloor = 1e-6f;
constexpr float kWarpBlockCeiling = 0.999f;
/// The warp parameter itself never reaches 1.
constexpr float kWarpCeiling = 0.99999f;

/// Alternating anti-denormal offset of the first pass, and the threshold below which smoothed
/// values snap to their targets.
constexpr float kEngineOffset = kDenormalOffsetSmall;
constexpr float kSnapIncrement = 1e-12f;
constexpr float kGainFlush = 1e-15f;
constexpr float kEnvelopeFloor = 1e-8f;

/// Envelope follower: input level scale and the attack weight of the old value.
constexpr float kEnvelopeLevelScale = 16.0f * 0.5f;
constexpr float kEnvelopeAttack = 0.7f;

/// Blow-up guard: a channel whose filter output reaches this magnitude is cleared.
constexpr float kBlowUpLimit = 10000.0f;

/// Tempo poll: blocks between polls while the tempo is steady, and after a change.
constexpr int kTempoPollSteady = 500;
constexpr int kTempoPollChanged = 5;
constexpr double kTempoChangeThreshold = 0.01;
/// A host scan position this far into a step is not realigned (the step is about to end).
constexpr double kRealignLimit = 0.95;

/// Tone section: the high-pass pole is 1 - kTonePoleScale * (target + smoothed cutoff).
constexpr float kTonePoleScale = 0.01f;

}  // namespace skv::engine
