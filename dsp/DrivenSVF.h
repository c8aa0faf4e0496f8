// One band of the band filter bank: a Chamberlin state-variable filter stepped twice per
// input sample (so its tuning range reaches a quarter of the sample rate), returning the
// mean of the two band-pass values. Centre frequency and damping glide towards their
// targets every sample, so the coefficients (a sine and a fourth root) are recomputed
// every sample; the sine uses a polynomial that matches sinf to float rounding on the
// capped range [0, pi/4]. This scalar form is the reference; the bank runs its bands four at
// a time in CDrivenSVF4, which repeats these operations lane by lane.
#pragma once

#include <algorithm>
#include <cmath>

#include "dsp/DspConfig.h"

/// Audio thread only (the owning bank writes the targets and the glide between samples).
class CDrivenSVF {
public:
    static constexpr float kInitialValue = 0.1f;  ///< cutoff, freqCoeff, damping, q after reset
    static constexpr float kInitialGlide = 0.5f;
    static constexpr float kInitialDampingTarget = 0.1f;
    static constexpr float kDenormalOffset = skv::kDenormalOffsetSmall;
    static constexpr float kGlideBias = 1e-9f;      ///< keeps the glides off zero
    static constexpr float kMaxHalfCutoff = 0.25f;  ///< cap of d = cutoff/2
    static constexpr float kMaxQ = 2.0f;
    static constexpr float kPi = 3.1415927f;
    // Taylor coefficients of sinQuarter (x^3 .. x^9).
    static constexpr float kSin3 = -1.0f / 6.0f;
    static constexpr float kSin5 = 1.0f / 120.0f;
    static constexpr float kSin7 = -1.0f / 5040.0f;
    static constexpr float kSin9 = 1.0f / 362880.0f;

    /// Every field, in the order of the unit's data model; for copying a band between this
    /// scalar form and a lane of CDrivenSVF4.
    struct State {
        float cutoffTarget, dampingTarget, denormal, glide, low, highPass, band, high, output,
            cutoff, freqCoeff, damping, q;
    };

    CDrivenSVF() = default;
    virtual ~CDrivenSVF() = default;
    CDrivenSVF(const CDrivenSVF&) = default;
    CDrivenSVF& operator=(const CDrivenSVF&) = default;

    /// Centre frequency as a fraction of the sample rate (0.5 = Nyquist; capped at 0.5).
    void setCutoffTarget(float f) noexcept { cutoffTarget = f; }
    /// Resonance control 0..1 (1 = self-oscillation limit); clamped.
    void setDampingTarget(float r) noexcept { dampingTarget = std::clamp(r, 0.0f, 1.0f); }
    /// Weight of the old value in the glide, 0 (jump) .. 1 (frozen).
    void setGlide(float s) noexcept { glide = s; }

    float getCutoffTarget() const noexcept { return cutoffTarget; }
    float getDampingTarget() const noexcept { return dampingTarget; }
    float getGlide() const noexcept { return glide; }
    float getCutoff() const noexcept { return cutoff; }
    float getDamping() const noexcept { return damping; }
    float getFreqCoeff() const noexcept { return freqCoeff; }
    float getQ() const noexcept { return q; }
    float getOutput() const noexcept { return output; }
    float getDenormal() const noexcept { return denormal; }
    float getLow() const noexcept { return low; }
    float getBand() const noexcept { return band; }
    float getHighPass() const noexcept { return highPass; }

    State getState() const noexcept
    {
        return {cutoffTarget, dampingTarget, denormal, glide,     low,     highPass, band,
                high,         output,        cutoff,   freqCoeff, damping, q};
    }
    /// Takes every field as it is (no clamping): the state of another band, scalar or lane.
    void setState(const State& s) noexcept
    {
        cutoffTarget = s.cutoffTarget;
        dampingTarget = s.dampingTarget;
        denormal = s.denormal;
        glide = s.glide;
        low = s.low;
        highPass = s.highPass;
        band = s.band;
        high = s.high;
        output = s.output;
        cutoff = s.cutoff;
        freqCoeff = s.freqCoeff;
        damping = s.damping;
        q = s.q;
    }

    /// Back to the starting tuning with silent state (also the glide back to 0.5).
    void resetBand() noexcept
    {
        cutoff = freqCoeff = damping = q = kInitialValue;
        glide = kInitialGlide;
        low = highPass = band = high = 0.0f;
    }

    /// sin(x) for 0 <= x <= pi/4: odd Taylor polynomial to x^9, truncation error below
    /// 3e-9 relative, so the result differs from sinf only by float rounding.
    static float sinQuarter(float x) noexcept
    {
        const float x2 = x * x;
        return x * (1.0f + x2 * (kSin3 + x2 * (kSin5 + x2 * (kSin7 + x2 * kSin9))));
    }

    float processSample(float x) noexcept
    {
        const float s = glide;
        cutoff = cutoffTarget + s * (cutoff - cutoffTarget) + denormal + kGlideBias;
        damping = dampingTarget + s * (damping - dampingTarget) + denormal + kGlideBias;

        // Halved for the two internal steps; the cap keeps m <= 2 sin(pi/4), where the
        // recursion stays stable with q <= 2. The floor only matters for hostile targets.
        const float d = std::clamp(cutoff * 0.5f, 0.0f, kMaxHalfCutoff);
        const float m = 2.0f * sinQuarter(kPi * d);
        freqCoeff = m;
        // Fourth root as two square roots: much cheaper than powf, same value to rounding.
        const float root4 = std::sqrt(std::sqrt(std::max(damping, 0.0f)));
        q = std::min(std::min(2.0f / m - 0.5f * m, kMaxQ), 2.0f * (1.0f - root4));

        const float u = x + denormal;
        // First internal step.
        low += m * band;
        float h = u - q * band - low;
        band += m * h;
        const float b1 = band;
        // Second internal step (its high-pass value is kept for inspection).
        high = u - q * b1;
        low += m * b1;
        h = high - low;
        highPass = h;
        band = b1 + m * h;
        const float b2 = band;

        output = 0.5f * b1 + 0.5f * b2;
        denormal = -denormal;
        return output;
    }

private:
    float cutoffTarget = kInitialValue;
    float dampingTarget = kInitialDampingTarget;
    float denormal = kDenormalOffset;
    float glide = kInitialGlide;
    float low = 0.0f;
    float highPass = 0.0f;
    float band = 0.0f;
    float high = 0.0f;
    float output = 0.0f;
    float cutoff = kInitialValue;
    float freqCoeff = kInitialValue;
    float damping = kInitialValue;
    float q = kInitialValue;
};
