// The once-per-sub-block coefficient glide of both lattices in one pass. A single glide is a
// chain of dependent multiplies through all stages (f and g of the gain recursion), so at
// order 80 its latency, not its arithmetic, sets the cost; run in two lanes of one SSE
// register, the left and right chains hide each other. Each lane performs exactly the
// operations of CUnitWarpedLatticeBase::glideCoefficients in the same order, so coefficients,
// warp, scale and gain come out bit-identical to two single glides.
#pragma once

#include <emmintrin.h>
#include <mutex>

#include "dsp/DspConfig.h"
#include "dsp/UnitWIIRLattice.h"

namespace skv {

namespace detail {

// The target clamps and the warp and scale steps of one lattice's glide (scalar). Returns the
// new warp and stores warp, scale and warp complement.
template <int Capacity>
void glideHead(usp::CUnitWIIRLattice<float, Capacity>& l, float targetWarp, float targetScale) {
    const float maxWarp = 0.9999f;
    if (targetWarp != targetWarp)
        targetWarp = l.warp;
    else if (targetWarp > maxWarp)
        targetWarp = maxWarp;
    else if (targetWarp < -maxWarp)
        targetWarp = -maxWarp;
    if (targetScale != targetScale)
        targetScale = l.coeffScale;
    else if (targetScale > 1.0f)
        targetScale = 1.0f;
    else if (targetScale < -1.0f)
        targetScale = -1.0f;
    float lambda = targetWarp + 0.95f * (l.warp - targetWarp);
    if ((lambda < 0.0f ? -lambda : lambda) < kDenormalThreshold) lambda = 0.0f;
    l.warp = lambda;
    l.coeffScale = targetScale + 0.95f * (l.coeffScale - targetScale);
    l.warpComplement = 1.0f - lambda * lambda;
}

inline __m128 lanePair(const float* l, const float* r) { return _mm_unpacklo_ps(_mm_load_ss(l), _mm_load_ss(r)); }

inline float laneOne(__m128 v) { return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1))); }

inline float gainOf(float sum) {
    const float inv = 1.0f / (1.0f - sum);
    return (inv - inv == 0.0f) ? inv : 1.0f;
}

}  // namespace detail

/// glideCoefficients(warpL, scaleL) on left and (warpR, scaleR) on right, both under their
/// locks (left taken first, as around the filtering pass). Lattices of different orders (an
/// order change caught halfway) glide one after the other.
template <int Capacity>
void glideLatticePair(usp::CUnitWIIRLattice<float, Capacity>& left, usp::CUnitWIIRLattice<float, Capacity>& right,
                      float warpL, float scaleL, float warpR, float scaleR) {
    std::lock_guard<std::recursive_mutex> lockL(left.lock);
    std::lock_guard<std::recursive_mutex> lockR(right.lock);
    if (left.order != right.order || &left == &right) {
        right.glideCoefficients(warpR, scaleR);
        left.glideCoefficients(warpL, scaleL);
        return;
    }
    detail::glideHead(left, warpL, scaleL);
    detail::glideHead(right, warpR, scaleR);

    const float eL = left.smoothing, eR = right.smoothing;
    const __m128 e = _mm_setr_ps(eL, eR, 0.0f, 0.0f);
    // (1 - e) * b, the weight of the target, as the single glide forms it.
    const __m128 w = _mm_setr_ps((1.0f - eL) * left.coeffScale, (1.0f - eR) * right.coeffScale, 0.0f, 0.0f);
    const __m128 negLambda = _mm_setr_ps(-left.warp, -right.warp, 0.0f, 0.0f);
    __m128 f = negLambda;
    __m128 g = _mm_setr_ps(1.0f, 1.0f, 0.0f, 0.0f);
    __m128 sum = _mm_setzero_ps();
    float* const kl = left.coeffs;
    float* const kr = right.coeffs;
    const float* const sl = left.targetCoeffs;
    const float* const sr = right.targetCoeffs;
    const int order = left.order;
    for (int j = 0; j < order; ++j) {
        const __m128 k = _mm_add_ps(_mm_mul_ps(e, detail::lanePair(kl + j, kr + j)),
                                    _mm_mul_ps(w, detail::lanePair(sl + j, sr + j)));
        _mm_store_ss(kl + j, k);
        kr[j] = detail::laneOne(k);
        const __m128 fk = _mm_mul_ps(f, k);
        sum = _mm_add_ps(sum, fk);
        const __m128 fNew = _mm_mul_ps(negLambda, _mm_sub_ps(f, _mm_mul_ps(k, g)));
        g = _mm_sub_ps(g, fk);
        f = fNew;
    }
    left.gain = detail::gainOf(_mm_cvtss_f32(sum));
    right.gain = detail::gainOf(detail::laneOne(sum));
}

}  // namespace skv
