// Shared constants of the signal-processing units: the fixed 44.1 kHz time base, the delay and
// filter capacities, and the anti-denormal threshold and offsets. Time constants are counted in
// 44.1 kHz samples whatever the host's rate; only the tempo arithmetic uses the real rate.
#pragma once

namespace skv {

// Time base: every time constant of the engine is expressed at this rate.
constexpr double kTimeBaseRate = 44100.0;

// Delay lines: four seconds at the time base; the ring is the next power of two (262144).
constexpr int kMaxDelaySamples = 176400;
constexpr int kMaxDelayRequest = kMaxDelaySamples - 1;  // largest target the engine asks for
constexpr int kReverseCrossfade = 100;                  // samples of each backward cross-fade
constexpr float kMaxGlideRate = 0.75f;                  // delay change per sample, in samples

// Lattice filters: order 2..81 stages; the engine uses 2..80 from an 80-value column.
constexpr int kLatticeCapacity = 81;
constexpr int kLatticeMinOrder = 2;
constexpr int kFilterMapColumn = 80;
constexpr int kMaxFilterOrder = 80;
constexpr float kCoeffFloor = 1e-7f;  // smallest reflection coefficient kept
constexpr float kCoeffTiny = 1e-9f;   // values below this become kCoeffFloor
constexpr float kResetWarp = 1e-7f;   // warp a reset lattice starts from

// LPC extraction: frame capacity, nominal coefficient capacity, and the largest order asked.
constexpr int kLpcFrameCapacity = 256;
constexpr int kLpcCoeffCapacity = 60;
constexpr int kLpcMaxOrder = kMaxFilterOrder;
constexpr int kLpcDefaultFrame = 128;
constexpr int kSelfAnalysisLength = 512;

// Anti-denormal guard: recursive stages add an offset whose sign flips every sample and flush
// magnitudes below the threshold to zero.
constexpr float kDenormalThreshold = 1e-10f;
constexpr float kDenormalOffset = 1e-10f;       // units' own alternating offset
constexpr float kDenormalOffsetSmall = 1e-13f;  // the engine's and the band filters' offset

}  // namespace skv
