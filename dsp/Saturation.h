// Output stage of each channel: a feed-forward compressor on a smoothed power envelope
// (gain law through the fast log and exp of FastMath.h), then a cubic soft clipper,
// optionally at twice the rate: Catmull-Rom midpoints up, a fixed fourth-order low-pass
// Filter<5> down (dsp/Filter.h). The envelope runs on the undelayed input while the clipped
// 2x signal is the input about two samples late, as the interpolator needs two samples of
// look-ahead.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>

#include "dsp/Denormal.h"
#include "dsp/DspConfig.h"
#include "dsp/FastMath.h"
#include "dsp/Filter.h"

class os2Distort;

/// Runs the left and right units together, one SSE lane each: every lane performs exactly the
/// operations of os2Distort::process for its unit in the same order, so the results and the
/// state left behind are bit-identical to left.process(l, n) followed by right.process(r, n).
/// Units that differ in oversampling, the same unit twice, or overlapping buffers take those
/// two single calls instead. Audio thread; n <= 0 processes nothing.
void processStereo(os2Distort& left, os2Distort& right, float* l, float* r, int n) noexcept;

/// Compressor, soft clipper and optional 2x oversampling for one channel. The owner writes
/// the settings once per sub-block (configure) and runs process/processSample on the audio
/// thread; nothing here allocates after construction.
class os2Distort {
public:
    static constexpr int kFilterCoefficients = 5;
    static constexpr float kGainGlide = 0.95f;      ///< weight of the old gain per sample
    static constexpr float kEnvelopeBias = 1e-10f;  ///< keeps the envelope off zero
    static constexpr float kInputLimit = 1e6f;      ///< |x| beyond this is held here
    /// Down-sampling low-pass, b0..b4 and a0..a4 with a trailing 0 (a fourth-order
    /// low-pass at a quarter of the oversampled rate; DC gain about 0.9943).
    static constexpr double kLowpassB[6] = {0.11492346322469, 0.45969385289874, 0.68954077934812,
                                            0.45969385289874, 0.11492346322469, 0.0};
    static constexpr double kLowpassA[6] = {
        1.0, 0.18370887947459, 0.65875675400081, -0.05048033194436, 0.05740547636112, 0.0};
    /// Blocks go through the passes of the 2x and the two-channel paths in chunks of this many
    /// samples (the size of their stack buffers).
    static constexpr int kChunk = 64;

    /// The compressor's per-sample state and settings as a run holds them in locals (defined
    /// in Saturation.cpp).
    struct Compressor;

    os2Distort();
    virtual ~os2Distort() = default;

    os2Distort(const os2Distort&) = delete;
    os2Distort& operator=(const os2Distort&) = delete;

    /// Per-sub-block settings. threshold is the power-like value (the owner's p^4; 1 or more
    /// turns the compressor off), attack/release the envelope's weights of the old value
    /// while rising/falling, ratio the slope factor (2 p). Also sets thresholdLog.
    void configure(bool oversampleOn, float driveK, float thresholdPower, float attack,
                   float release, float ratioFactor) noexcept;

    /// Clears the down-sampling filter's state and last output; compressor state and input
    /// history stay (the owner restores the gain itself, see setGain).
    virtual void reset() noexcept;

    /// Current compressor gain (the owner sets 1 after a runaway reset).
    void setGain(float g) noexcept { gain = g; }

    /// One input sample.
    float processSample(float x) noexcept;

    /// n samples in place with the state in locals: the loop-level form of processSample
    /// (identical results).
    void process(float* inOut, int n) noexcept;

    /// Soft clipper: +-1 outside [-1, 1], y + k y (1 - y^2) inside. Written branch-free:
    /// at the clamped ends the cubic term is exactly 0, so the result is exactly +-1.
    static float clip(float y, float k) noexcept
    {
        const float c = std::min(1.0f, std::max(-1.0f, y));
        return c + k * c * (1.0f - c * c);
    }

    /// Holds x to +-kInputLimit (NaN becomes -kInputLimit) with two min/max instructions.
    static float limitInput(float x) noexcept
    {
        return std::min(kInputLimit, std::max(-kInputLimit, x));
    }

    float getGain() const noexcept { return gain; }
    float getEnvelope() const noexcept { return envelope; }
    float getOffset() const noexcept { return offset; }
    const float* getHistory() const noexcept { return history; }
    const Filter<kFilterCoefficients>& getLowpass() const noexcept { return *lowpass; }

private:
    friend void processStereo(os2Distort&, os2Distort&, float*, float*, int) noexcept;

    Compressor compressor() const noexcept;
    template <bool Oversample>
    void run(float* inOut, int n) noexcept;
    void recoverIfNonFinite() noexcept;

    float drive = 0.0f;
    float threshold = 1.0f;
    float attackCoeff = 0.0f;
    float releaseCoeff = 0.0f;
    float ratio = 0.0f;
    float thresholdLog = 0.0f;
    float gain = 1.0f;
    float offset = skv::kDenormalOffset;
    bool oversample = false;
    float envelope = 0.0f;
    float history[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    double lowpassB[6];
    double lowpassA[6];
    std::unique_ptr<Filter<kFilterCoefficients>> lowpass;
};
