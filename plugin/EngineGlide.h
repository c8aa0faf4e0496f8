// The once-per-sub-block coefficient glide of both lattices in one pass. A single glide is a
// chain of dependent multiplies through all stages (f and g of the gain recursion), so at
// order 80 its latency, not its arithmetic, sets the cost; run in two lanes of one SSE
// register, the left and right chains hide each other. Each lane performs exactly the
// operations of CUnitWarpedLatticeBase::glideCoefficients in the same order, so coefficients,
// warp, scale and gain come out bit-identical to two single glides.
#pragma once

#include <emmintrin.h>
#include <mutex>

#include "dsp/LanePairs.h"
#include "dsp/LatticeStereoKernel.h"
#include "dsp/UnitWIIRLattice.h"

namespace skv {

namespace detail {

/// One glide stage of both lattices: the coefficient's step towards its target, then the
/// stage's share of the gain recursion (f, g and the sum behind G).
struct GlideStages {
    template <int Capacity>
    GlideStages(usp::CUnitWIIRLattice<float, Capacity>& left,
                usp::CUnitWIIRLattice<float, Capacity>& right)
        : e(pairOf(left.getSmoothing(), right.getSmoothing())),
          // (1 - e) * b, the weight of the target, as the single glide forms it.
          w(pairOf((1.0f - left.getSmoothing()) * left.getCoeffScale(),
                   (1.0f - right.getSmoothing()) * right.getCoeffScale())),
          negLambda(pairOf(-left.getWarp(), -right.getWarp())), f(negLambda), g(pairOf(1.0f, 1.0f)),
          sum(_mm_setzero_ps()), kl(left.mutableCoefficients()), kr(right.mutableCoefficients()),
          sl(left.getTargetCoefficients()), sr(right.getTargetCoefficients())
    {
    }

    inline __m128 step(int j)
    {
        const __m128 k = _mm_add_ps(_mm_mul_ps(e, gatherPair(kl + j, kr + j)),
                                    _mm_mul_ps(w, gatherPair(sl + j, sr + j)));
        scatterPair(kl + j, kr + j, k);
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
    using Lattice = usp::CUnitWIIRLattice<float, Capacity>;
    std::lock_guard<Lattice> lockL(left);
    std::lock_guard<Lattice> lockR(right);
    if (next)
        next->valid = false;
    if (left.getOrder() != right.getOrder() || &left == &right) {
        right.glideCoefficients(warpR, scaleR);
        left.glideCoefficients(warpL, scaleL);
        return;
    }
    left.glideWarpAndScale(warpL, scaleL);
    right.glideWarpAndScale(warpR, scaleR);

    detail::GlideStages glide(left, right);
    const int order = left.getOrder();
    if (!next) {
        for (int j = 0; j < order; ++j)
            glide.step(j);
    }
    else {
        const float* const pl = left.stateToRead();
        const float* const pr = right.stateToRead();
        usp::detail::PredictionChain chain(
            pairOf(left.getWarp(), right.getWarp()),
            pairOf(left.getWarpComplement(), right.getWarpComplement()));
        __m128 kLag = glide.step(0);
        chain.first(kLag, gatherPair(pl, pr));
        for (int j = 1; j < order; ++j) {
            const __m128 k = glide.step(j);
            chain.stage(k, kLag, gatherPair(pl + j, pr + j));
            kLag = k;
        }
        _mm_store_pd(next->acc, chain.acc);
    }
    left.finishGlide(lane0(glide.sum));
    right.finishGlide(lane1(glide.sum));
    if (next) {
        next->revisionL = left.getRevision();
        next->revisionR = right.getRevision();
        next->valid = true;
    }
}

}  // namespace skv
