// Output stage of each channel: a feed-forward compressor on a smoothed power envelope
// (gain law through the fast log and exp of FastMath.h), then a cubic soft clipper,
// optionally at twice the rate: Catmull-Rom midpoints up, a fixed fourth-order low-pass
// Filter<5> down (direct form II whose state lives in the power-of-two ring of Delay<float>,
// so no shifting). The envelope runs on the undelayed input while the clipped 2x signal is
// the input about two samples late, as the interpolator needs two samples of look-ahead.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>

#include "dsp/Delay.h"
#include "dsp/Denormal.h"
#include "dsp/DspConfig.h"
#include "dsp/FastMath.h"

/// Recursive filter of order N-1 with N coefficients per side (Filter<5>: fourth order).
/// Its state w[k] sits in the inherited ring, k samples before writeIndex. Audio thread only.
template <int N>
class Filter : public Delay<float> {
public:
    static_assert(N >= 2, "at least one feedback tap");
    static constexpr int kRingLength = 2048;
    static constexpr int kStateTaps = N - 1;

    Filter();
    ~Filter() override = default;

    /// Loads a0..aN and b0..bN (N+1 values each; a0 and the last slot take no part).
    /// Construction thread, or the audio thread between samples.
    void setCoefficients(const double* bCoeffs, const double* aCoeffs) noexcept;

    /// One step: w0 = x - a1 w1 - ... - a(N-1) w(N-1) + denormal, output b0 w0 + ... .
    float processSample(double x) noexcept;

    /// The state of a run of steps held in locals (a hot loop loads it, steps, stores it),
    /// with copies of the coefficients so that the whole recursion can live in registers.
    struct Run {
        std::array<float, kStateTaps> w;      ///< w[0] is the newest stored value
        std::array<float, kStateTaps> negA;   ///< -a1 .. -a(N-1)
        std::array<float, kStateTaps + 1> b;  ///< b0 .. b(N-1)
        double denormal;
        int writeIndex;
    };
    Run beginRun() const noexcept;
    inline float step(Run& run, double x) noexcept;
    void endRun(const Run& run) noexcept;

    double getDenormal() const noexcept { return denormal; }
    float getNegA(int i) const noexcept { return negA[i]; }
    float getB(int i) const noexcept { return b[i]; }

    /// Magnitude of the offset added to every recursion; its sign flips every step.
    static constexpr double kDenormalOffset = 1e-13;

private:
    template <std::size_t... K, std::size_t... S>
    inline float stepImpl(Run& r, double x, std::index_sequence<K...>,
                          std::index_sequence<S...>) noexcept;

    double denormal = kDenormalOffset;
    int coefficientCount = N;
    float negA[N + 1] = {};
    float b[N + 1] = {};
};

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

    /// Clears the down-sampling filter's ring and last output; compressor state and input
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

// ---------------------------------------------------------------------------------------------

template <int N>
Filter<N>::Filter() : Delay<float>(kRingLength)
{
    // The same ring with one spare slot beyond the power-of-two length (never addressed: every
    // index goes through the mask). Length, mask and indices stay as the line set them.
    freeRing(buffer);
    buffer = allocateRing(kRingLength + 1);
}

template <int N>
void Filter<N>::setCoefficients(const double* bCoeffs, const double* aCoeffs) noexcept
{
    for (int i = 0; i <= N; ++i) {
        negA[i] = static_cast<float>(-aCoeffs[i]);
        b[i] = static_cast<float>(bCoeffs[i]);
    }
}

template <int N>
typename Filter<N>::Run Filter<N>::beginRun() const noexcept
{
    Run r;
    for (int k = 0; k < kStateTaps; ++k) {
        r.w[k] = buffer[(writeIndex - 1 - k) & mask];
        r.negA[k] = negA[k + 1];
        r.b[k] = b[k];
    }
    r.b[kStateTaps] = b[kStateTaps];
    r.denormal = denormal;
    r.writeIndex = writeIndex;
    return r;
}

template <int N>
template <std::size_t... K, std::size_t... S>
inline float Filter<N>::stepImpl(Run& r, double x, std::index_sequence<K...>,
                                 std::index_sequence<S...>) noexcept
{
    // The input and the offset meet in double; the taps are summed in float, from the oldest
    // to the newest, so that only one product and one addition wait for the previous step
    // (a double sum would put two conversions on that chain as well and halve the speed of
    // the 2x path). The difference to a double sum is float rounding, a few units in the
    // last place of w0; the filter is well damped, so it does not build up.
    float acc = static_cast<float>(x + r.denormal);
    ((acc += r.negA[kStateTaps - 1 - K] * r.w[kStateTaps - 1 - K]), ...);
    const float w0 = acc;
    buffer[r.writeIndex] = w0;
    r.denormal = -r.denormal;
    r.writeIndex = (r.writeIndex + 1) & mask;
    float y = r.b[0] * w0;
    ((y += r.b[K + 1] * r.w[K]), ...);
    r.w = std::array<float, kStateTaps>{w0, r.w[S]...};
    return y;
}

template <int N>
inline float Filter<N>::step(Run& r, double x) noexcept
{
    return stepImpl(r, x, std::make_index_sequence<kStateTaps>(),
                    std::make_index_sequence<kStateTaps - 1>());
}

template <int N>
void Filter<N>::endRun(const Run& r) noexcept
{
    denormal = r.denormal;
    writeIndex = r.writeIndex;
}

template <int N>
float Filter<N>::processSample(double x) noexcept
{
    Run r = beginRun();
    const float y = step(r, x);
    endRun(r);
    lastOutput = y;
    return y;
}
