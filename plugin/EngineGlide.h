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
#include "dsp/LatticeStereoKernel.h"
#include "dsp/UnitWIIRLattice.h"

namespace skv {

namespace detail {

// The target clamps and the warp and scale steps of one lattice's glide (scalar). Returns the
// new warp and stores warp, scale and warp complement.
template <int Capacity>
void glideHead(usp::CUnitWIIRLattice<float, Capacity>& l, float targetWarp, float targetScale)
{
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
    if ((lambda < 0.0f ? -lambda : lambda) < kDenormalThreshold)
        lambda = 0.0f;
    l.warp = lambda;
    l.coeffScale = targetScale + 0.95f * (l.coeffScale - targetScale);
    l.warpComplement = 1.0f - lambda * lambda;
}

inline __m128 lanePair(const float* l, const float* r)
{
    return _mm_unpacklo_ps(_mm_load_ss(l), _mm_load_ss(r));
}

inline float laneOne(__m128 v)
{
    return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
}

inline float gainOf(float sum)
{
    const float inv = 1.0f / (1.0f - sum);
    return (inv - inv == 0.0f) ? inv : 1.0f;
}

// One glide stage of both lattices: the coefficient's step towards its target, then the
// stage's share of the gain recursion (f, g and the sum behind G).
struct GlideStages {
    template <int Capacity>
    GlideStages(usp::CUnitWIIRLattice<float, Capacity>& left,
                usp::CUnitWIIRLattice<float, Capacity>& right)
        : e(_mm_setr_ps(left.smoothing, right.smoothing, 0.0f, 0.0f)),
          // (1 - e) * b, the weight of the target, as the single glide forms it.
          w(_mm_setr_ps((1.0f - left.smoothing) * left.coeffScale,
                        (1.0f - right.smoothing) * right.coeffScale, 0.0f, 0.0f)),
          negLambda(_mm_setr_ps(-left.warp, -right.warp, 0.0f, 0.0f)), f(negLambda),
          g(_mm_setr_ps(1.0f, 1.0f, 0.0f, 0.0f)), sum(_mm_setzero_ps()), kl(left.coeffs),
          kr(right.coeffs), sl(left.targetCoeffs), sr(right.targetCoeffs)
    {
    }

    inline __m128 step(int j)
    {
        const __m128 k = _mm_add_ps(_mm_mul_ps(e, lanePair(kl + j, kr + j)),
                                    _mm_mul_ps(w, lanePair(sl + j, sr + j)));
        _mm_store_ss(kl + j, k);
        kr[j] = laneOne(k);
        const __m128 fk = _mm_mul_ps(f, k);
        sum = _mm_add_ps(sum, fk);
        const __m128 fNew = _mm_mul_ps(negLambda, _mm_sub_ps(f, _mm_mul_ps(k, g)));
        g = _mm_sub_ps(g, fk);
        f = fNew;
        return k;
    }

    const __m128 e, w, negLambda;
    __m128 f, g, sum;
    float* const kl;
    float* const kr;
    const float* const sl;
    const float* const sr;
};

}  // namespace detail

/// glideCoefficients(warpL, scaleL) on left and (warpR, scaleR) on right, both under their
/// locks (left taken first, as around the filtering pass). Lattices of different orders (an
/// order change caught halfway) glide one after the other.
///
/// With `next`, the same pass also computes the prediction of both lattices' next sample from
/// the glided coefficients (the first stage loop of the stereo kernel): its dependency chain
/// runs beside the glide's gain chain instead of after it. The kernel takes it over when
/// nothing has changed the lattices in between.
template <int Capacity>
void glideLatticePair(usp::CUnitWIIRLattice<float, Capacity>& left,
                      usp::CUnitWIIRLattice<float, Capacity>& right, float warpL, float scaleL,
                      float warpR, float scaleR, usp::StereoPrediction* next = nullptr)
{
    std::lock_guard<std::recursive_mutex> lockL(left.lock);
    std::lock_guard<std::recursive_mutex> lockR(right.lock);
    if (next)
        next->valid = false;
    if (left.order != right.order || &left == &right) {
        right.glideCoefficients(warpR, scaleR);
        left.glideCoefficients(warpL, scaleL);
        return;
    }
    detail::glideHead(left, warpL, scaleL);
    detail::glideHead(right, warpR, scaleR);

    detail::GlideStages glide(left, right);
    const int order = left.order;
    if (!next) {
        for (int j = 0; j < order; ++j)
            glide.step(j);
    }
    else {
        // The prediction stages, exactly as the kernel and CUnitWIIRLattice::process form them:
        // u = C p0, acc = k0 u, then per stage u = C pj + λ (k(j-1) z - u), acc += kj u.
        const float* const pl = left.pingPong ? left.stateA : left.stateB;
        const float* const pr = right.pingPong ? right.stateA : right.stateB;
        const __m128 lambda = _mm_setr_ps(left.warp, right.warp, 0.0f, 0.0f);
        const __m128 c = _mm_setr_ps(left.warpComplement, right.warpComplement, 0.0f, 0.0f);
        const __m128 signMask = _mm_set1_ps(-0.0f);
        __m128 kLag = _mm_setzero_ps();
        __m128 u = _mm_setzero_ps();
        __m128 acc = _mm_setzero_ps();
        __m128 back = _mm_setzero_ps();
        __m128 z = _mm_setzero_ps();
        for (int j = 0; j < order; ++j) {
            const __m128 k = glide.step(j);

            const __m128 pj = detail::lanePair(pl + j, pr + j);
            if (j == 0) {
                u = _mm_mul_ps(c, pj);
                acc = _mm_mul_ps(k, u);
                back = _mm_xor_ps(acc, signMask);
            }
            else {
                const __m128 uj = _mm_add_ps(
                    _mm_mul_ps(c, pj), _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kLag, z), u)));
                z = back;
                const __m128 t = _mm_mul_ps(k, uj);
                acc = _mm_add_ps(acc, t);
                back = _mm_sub_ps(back, t);
                u = uj;
            }
            kLag = k;
        }
        _mm_store_ps(next->acc, acc);
    }
    left.gain = detail::gainOf(_mm_cvtss_f32(glide.sum));
    right.gain = detail::gainOf(detail::laneOne(glide.sum));
    ++left.revision;
    ++right.revision;
    if (next) {
        next->revisionL = left.revision;
        next->revisionR = right.revision;
        next->valid = true;
    }
}

}  // namespace skv
