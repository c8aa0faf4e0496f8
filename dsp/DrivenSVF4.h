// Four driven state-variable bands side by side in the lanes of SSE registers: lane i of
// every field is one CDrivenSVF. The step performs CDrivenSVF::processSample's operations in
// the same order on all four lanes; SSE rounds each of them (including the division and
// the square roots) exactly as scalar code does, and min/max take their operands in the
// order that keeps std::min/max/clamp's NaN behaviour, so every lane stays bit-identical to
// the scalar band. SSE2 only (x86-64 baseline); nothing here allocates.
#pragma once

#include <emmintrin.h>

#include "dsp/DrivenSVF.h"

/// Audio thread only, like the scalar band.
class CDrivenSVF4 {
public:
    static constexpr int kLanes = 4;

    /// The four bands in registers, for loops that keep the state in locals: load, step as
    /// often as needed, store.
    struct Regs {
        __m128 cutoffTarget, dampingTarget, denormal, glide, low, highPass, band, high, output,
            cutoff, freqCoeff, damping, q;
    };

    /// Every lane as a freshly constructed CDrivenSVF.
    CDrivenSVF4() noexcept
    {
        const CDrivenSVF fresh;
        for (int i = 0; i < kLanes; ++i)
            setLane(i, fresh.getState());
    }

    CDrivenSVF::State getLane(int lane) const noexcept
    {
        return {cutoffTarget[lane], dampingTarget[lane], denormal[lane], glide[lane],  low[lane],
                highPass[lane],     band[lane],          high[lane],     output[lane], cutoff[lane],
                freqCoeff[lane],    damping[lane],       q[lane]};
    }
    void setLane(int lane, const CDrivenSVF::State& s) noexcept
    {
        cutoffTarget[lane] = s.cutoffTarget;
        dampingTarget[lane] = s.dampingTarget;
        denormal[lane] = s.denormal;
        glide[lane] = s.glide;
        low[lane] = s.low;
        highPass[lane] = s.highPass;
        band[lane] = s.band;
        high[lane] = s.high;
        output[lane] = s.output;
        cutoff[lane] = s.cutoff;
        freqCoeff[lane] = s.freqCoeff;
        damping[lane] = s.damping;
        q[lane] = s.q;
    }

    /// The scalar band's setters, for one lane.
    void setCutoffTarget(int lane, float f) noexcept { cutoffTarget[lane] = f; }
    void setDampingTarget(int lane, float r) noexcept
    {
        dampingTarget[lane] = std::clamp(r, 0.0f, 1.0f);
    }
    /// Glide of all four lanes.
    void setGlide(float s) noexcept
    {
        for (float& g : glide)
            g = s;
    }
    /// CDrivenSVF::resetBand on all four lanes (targets and denormal offsets stay).
    void resetBands() noexcept
    {
        for (int i = 0; i < kLanes; ++i) {
            cutoff[i] = freqCoeff[i] = damping[i] = q[i] = CDrivenSVF::kInitialValue;
            glide[i] = CDrivenSVF::kInitialGlide;
            low[i] = highPass[i] = band[i] = high[i] = 0.0f;
        }
    }
    /// Flips the sign of the denormal offset in the lanes whose mask bits are set, as one
    /// step would.
    void flipDenormal(__m128 laneMask) noexcept
    {
        const __m128 sign = _mm_and_ps(laneMask, _mm_set1_ps(-0.0f));
        _mm_store_ps(denormal, _mm_xor_ps(_mm_load_ps(denormal), sign));
    }

    Regs load() const noexcept
    {
        return {_mm_load_ps(cutoffTarget),
                _mm_load_ps(dampingTarget),
                _mm_load_ps(denormal),
                _mm_load_ps(glide),
                _mm_load_ps(low),
                _mm_load_ps(highPass),
                _mm_load_ps(band),
                _mm_load_ps(high),
                _mm_load_ps(output),
                _mm_load_ps(cutoff),
                _mm_load_ps(freqCoeff),
                _mm_load_ps(damping),
                _mm_load_ps(q)};
    }
    /// Writes back all four lanes.
    void store(const Regs& r) noexcept
    {
        _mm_store_ps(cutoffTarget, r.cutoffTarget);
        _mm_store_ps(dampingTarget, r.dampingTarget);
        _mm_store_ps(denormal, r.denormal);
        _mm_store_ps(glide, r.glide);
        _mm_store_ps(low, r.low);
        _mm_store_ps(highPass, r.highPass);
        _mm_store_ps(band, r.band);
        _mm_store_ps(high, r.high);
        _mm_store_ps(output, r.output);
        _mm_store_ps(cutoff, r.cutoff);
        _mm_store_ps(freqCoeff, r.freqCoeff);
        _mm_store_ps(damping, r.damping);
        _mm_store_ps(q, r.q);
    }
    /// Writes back the lanes whose mask bits are all set and keeps the others as they are.
    void store(const Regs& r, __m128 laneMask) noexcept
    {
        blend(cutoffTarget, r.cutoffTarget, laneMask);
        blend(dampingTarget, r.dampingTarget, laneMask);
        blend(denormal, r.denormal, laneMask);
        blend(glide, r.glide, laneMask);
        blend(low, r.low, laneMask);
        blend(highPass, r.highPass, laneMask);
        blend(band, r.band, laneMask);
        blend(high, r.high, laneMask);
        blend(output, r.output, laneMask);
        blend(cutoff, r.cutoff, laneMask);
        blend(freqCoeff, r.freqCoeff, laneMask);
        blend(damping, r.damping, laneMask);
        blend(q, r.q, laneMask);
    }

    /// One input sample (the same in every lane, or one per lane) through all four bands;
    /// returns their outputs.
    static inline __m128 step(Regs& r, __m128 x) noexcept;

    /// step on the stored state, for callers that go sample by sample.
    __m128 processSample(__m128 x) noexcept
    {
        Regs r = load();
        const __m128 y = step(r, x);
        store(r);
        return y;
    }

    /// Stores v into the lanes of field (16-byte aligned) whose mask bits are all set.
    static void blend(float* field, __m128 v, __m128 laneMask) noexcept
    {
        const __m128 kept = _mm_andnot_ps(laneMask, _mm_load_ps(field));
        _mm_store_ps(field, _mm_or_ps(_mm_and_ps(laneMask, v), kept));
    }

private:
    alignas(16) float cutoffTarget[kLanes];
    alignas(16) float dampingTarget[kLanes];
    alignas(16) float denormal[kLanes];
    alignas(16) float glide[kLanes];
    alignas(16) float low[kLanes];
    alignas(16) float highPass[kLanes];
    alignas(16) float band[kLanes];
    alignas(16) float high[kLanes];
    alignas(16) float output[kLanes];
    alignas(16) float cutoff[kLanes];
    alignas(16) float freqCoeff[kLanes];
    alignas(16) float damping[kLanes];
    alignas(16) float q[kLanes];
};

// ---------------------------------------------------------------------------------------------

inline __m128 CDrivenSVF4::step(Regs& r, __m128 x) noexcept
{
    const __m128 zero = _mm_setzero_ps();
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 bias = _mm_set1_ps(CDrivenSVF::kGlideBias);

    const __m128 s = r.glide;
    r.cutoff = _mm_add_ps(
        _mm_add_ps(_mm_add_ps(r.cutoffTarget, _mm_mul_ps(s, _mm_sub_ps(r.cutoff, r.cutoffTarget))),
                   r.denormal),
        bias);
    r.damping =
        _mm_add_ps(_mm_add_ps(_mm_add_ps(r.dampingTarget,
                                         _mm_mul_ps(s, _mm_sub_ps(r.damping, r.dampingTarget))),
                              r.denormal),
                   bias);

    // max/min return their second operand when either is NaN (and for two zeros), which is
    // what std::clamp(v, lo, hi), std::max(v, 0) and std::min(a, b) return with these
    // operand orders.
    const __m128 d = _mm_min_ps(_mm_set1_ps(CDrivenSVF::kMaxHalfCutoff),
                                _mm_max_ps(zero, _mm_mul_ps(r.cutoff, half)));
    const __m128 a = _mm_mul_ps(_mm_set1_ps(CDrivenSVF::kPi), d);
    const __m128 a2 = _mm_mul_ps(a, a);
    __m128 poly =
        _mm_add_ps(_mm_set1_ps(CDrivenSVF::kSin7), _mm_mul_ps(a2, _mm_set1_ps(CDrivenSVF::kSin9)));
    poly = _mm_add_ps(_mm_set1_ps(CDrivenSVF::kSin5), _mm_mul_ps(a2, poly));
    poly = _mm_add_ps(_mm_set1_ps(CDrivenSVF::kSin3), _mm_mul_ps(a2, poly));
    poly = _mm_add_ps(one, _mm_mul_ps(a2, poly));
    const __m128 m = _mm_mul_ps(two, _mm_mul_ps(a, poly));
    r.freqCoeff = m;
    const __m128 root4 = _mm_sqrt_ps(_mm_sqrt_ps(_mm_max_ps(zero, r.damping)));
    const __m128 qStable = _mm_min_ps(_mm_set1_ps(CDrivenSVF::kMaxQ),
                                      _mm_sub_ps(_mm_div_ps(two, m), _mm_mul_ps(half, m)));
    const __m128 q = _mm_min_ps(_mm_mul_ps(two, _mm_sub_ps(one, root4)), qStable);
    r.q = q;

    const __m128 u = _mm_add_ps(x, r.denormal);
    // First internal step.
    __m128 low = _mm_add_ps(r.low, _mm_mul_ps(m, r.band));
    __m128 h = _mm_sub_ps(_mm_sub_ps(u, _mm_mul_ps(q, r.band)), low);
    const __m128 b1 = _mm_add_ps(r.band, _mm_mul_ps(m, h));
    // Second internal step.
    r.high = _mm_sub_ps(u, _mm_mul_ps(q, b1));
    low = _mm_add_ps(low, _mm_mul_ps(m, b1));
    h = _mm_sub_ps(r.high, low);
    r.highPass = h;
    const __m128 b2 = _mm_add_ps(b1, _mm_mul_ps(m, h));
    r.low = low;
    r.band = b2;

    r.output = _mm_add_ps(_mm_mul_ps(half, b1), _mm_mul_ps(half, b2));
    r.denormal = _mm_xor_ps(r.denormal, _mm_set1_ps(-0.0f));
    return r.output;
}
