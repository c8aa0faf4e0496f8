// Band filter bank: reads a filter-map column as a spectrum. The column's 80 values are
// split into activeBands equal segments; in each, the highest value's position tunes one
// resonant CDrivenSVF band, its height sets the resonance, and the segment's mean level
// sets the band's gain (normalised over the whole column). Tunings that need powf are
// refreshed only every 128 samples; per sample the cost is the band recursions and glides.
//
// Speed: the bands are independent filters fed the same input, so they run four at a time in
// the SSE lanes of CDrivenSVF4 (bit-identical to the scalar CDrivenSVF), each group of four
// with its state in registers over a sub-block. The weighted band outputs are summed in band
// order, as a one-band-at-a-time loop would, so the bank's output is the same to the bit.
//
// Threads: setActiveBands, resetBands and setSmoothing may be called from the parameter
// path while the audio thread processes. They only post a request (atomics, no lock); the
// audio thread applies it at the start of its next processSample / process / setFromColumn,
// in the order the requests were made, so the band arrays are only ever touched by it.
#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "dsp/Denormal.h"
#include "dsp/DrivenSVF.h"
#include "dsp/DrivenSVF4.h"
#include "dsp/DspConfig.h"

class CSelBand {
public:
    static constexpr int kCapacity = 80;  ///< band filters held
    static constexpr int kColumnLength = skv::kFilterMapColumn;
    static constexpr int kInitialBands = 3;
    static constexpr float kInitialSmoothing = 0.9f;
    static constexpr std::uint32_t kRefreshPeriod = 128;  ///< samples between tuning refreshes
    static constexpr float kLevelBias = 0.2f;             ///< added to every value of a segment sum
    static constexpr float kMinMean = 1e-6f;              ///< smaller segment means give no gain
    static constexpr float kFullPeak = 0.25f;             ///< higher peaks count as 1
    static constexpr float kPositionStep = 0.0125f;       ///< 1/80: one column value as a position
    static constexpr float kLowestCutoff = 0.0009070295f;  ///< 40 Hz at the 44.1 kHz time base
    static constexpr float kMinResonance = 1e-8f;
    static constexpr int kGroups = kCapacity / CDrivenSVF4::kLanes;
    /// Longest stretch run in one pass (bounds the stack buffers of the block path).
    static constexpr int kChunk = 64;

    CSelBand();
    virtual ~CSelBand() = default;

    CSelBand(const CSelBand&) = delete;
    CSelBand& operator=(const CSelBand&) = delete;

    // --- any thread (parameter path): posted, applied by the audio thread ---

    /// Number of bands in use, clamped to 1..80; also sets the output scale to ln(n).
    void setActiveBands(int n) noexcept;
    /// resetBand on all 80 bands, which also returns every band's glide to 0.5.
    void resetBands() noexcept;
    /// Weight of the old value in the gain glide and in every band's target glide (0..1).
    void setSmoothing(float s) noexcept;

    // --- audio thread ---

    /// Applies the requests posted since the last call (cheap when there are none).
    void applyPendingChanges() noexcept;

    /// New targets from an 80-value column (values nominally in (-1, 1); non-finite ones
    /// count as 0).
    void setFromColumn(const float* values) noexcept;

    /// One sample: x clamped to [-1, 1], warp is the position-to-frequency bend b, resonance
    /// the peak-to-resonance scale c (both as the lattice gets them).
    float processSample(float x, float warp, float resonance) noexcept;

    /// n samples from in to out (may alias), the same as n calls of processSample. Before
    /// each sample warp advances by warpIncrement (the engine's smoothed warp); the final
    /// warp is written back.
    void process(const float* in, float* out, int n, float& warp, float warpIncrement,
                 float resonance) noexcept;

    // --- inspection (audio thread, tests) ---
    int getActiveBands() const noexcept { return activeBands; }
    float getOutputScale() const noexcept { return outputScale; }
    float getSmoothing() const noexcept { return smoothing; }
    float getOutput() const noexcept { return output; }
    float getPeakPosition(int i) const noexcept { return peakPosition[i]; }
    float getPeakHeight(int i) const noexcept { return peakHeight[i]; }
    float getGainTarget(int i) const noexcept { return gainTarget[i]; }
    float getGainSmoothed(int i) const noexcept { return gainSmoothed[i]; }
    /// A copy of band i (0..79) in scalar form.
    CDrivenSVF getBand(int i) const noexcept
    {
        CDrivenSVF b;
        b.setState(groups[static_cast<std::size_t>(i / CDrivenSVF4::kLanes)].getLane(
            i % CDrivenSVF4::kLanes));
        return b;
    }

private:
    enum PendingFlag : unsigned {
        kPendingBands = 1u,
        kPendingReset = 2u,
        kPendingSmoothing = 4u,
        kPendingGlide = 8u,
    };

    void applyRequests(unsigned flags) noexcept;
    void refreshTunings() noexcept;
    /// Exponent of the position-to-frequency law for the bend in force.
    float cutoffExponent() const noexcept { return 3.2f * warpParam + 0.8f; }
    /// Groups of four holding the active bands.
    int groupsInUse() const noexcept
    {
        return (activeBands + CDrivenSVF4::kLanes - 1) / CDrivenSVF4::kLanes;
    }
    float resonanceTarget(float peak) const noexcept;
    void setBandTargets(int i, float cutoff, float damping) noexcept;
    /// Sums of the weighted band outputs for n <= kChunk samples of clamped input, with no
    /// tuning refresh due after the first; handles non-finite sums as processSample does.
    void runBands(const float* x, float* sums, int n) noexcept;
    void sumBands(const float* x, float* sums, int n) noexcept;
    /// Runs group `group`'s four bands over n samples; products[4j + l] = lane l's output
    /// times its gliding gain at sample j.
    void runGroup(int group, const float* x, int n, float* products) noexcept;
    __m128 laneMask(int group) const noexcept;
    void recoverFromNonFinite(int extraSteps) noexcept;

    int capacity = kCapacity;
    int activeBands = kInitialBands;
    /// Unsigned so that it wraps (2^32 is a multiple of the refresh period) instead of
    /// overflowing after 13 hours of audio.
    std::uint32_t sampleCounter = 0;
    /// The 80 bands, four to a group: band i is lane i % 4 of group i / 4.
    std::array<CDrivenSVF4, kGroups> groups;
    float smoothing = kInitialSmoothing;
    float output = 0.0f;
    float warpParam = 0.7f;
    float resonanceParam = 0.5f;
    float outputScale;
    alignas(32) std::array<float, kCapacity> peakPosition;
    alignas(32) std::array<float, kCapacity> peakHeight;
    alignas(32) std::array<float, kCapacity> gainTarget;
    alignas(32) std::array<float, kCapacity> gainSmoothed;

    // Requests from the parameter path. The values are stored before the flag is raised
    // (release); the audio thread takes all flags at once (acquire) and then reads the
    // values. pendingGlide always holds the glide the latest reset or smoothing request asks
    // for, so the order of the two is kept.
    std::atomic<unsigned> pendingFlags{0};
    std::atomic<int> pendingBands{kInitialBands};
    std::atomic<float> pendingSmoothing{kInitialSmoothing};
    std::atomic<float> pendingGlide{CDrivenSVF::kInitialGlide};
};

// ---------------------------------------------------------------------------------------------

inline void CSelBand::applyPendingChanges() noexcept
{
    // A relaxed peek first: the exchange (a locked instruction) only runs when needed.
    if (pendingFlags.load(std::memory_order_relaxed) != 0)
        applyRequests(pendingFlags.exchange(0, std::memory_order_acquire));
}

inline float CSelBand::resonanceTarget(float peak) const noexcept
{
    const float r = resonanceParam * peak;
    if (r > 1.0f)
        return 1.0f;
    if (r <= kMinResonance)
        return 0.0f;
    return r * r;
}
