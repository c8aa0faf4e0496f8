// The fused stereo lattice kernel as it was before its recursion was reassociated (written
// operation order, four dependent operations per update stage), kept here only so that the
// benchmarks can measure the present kernel against it in the same run.
#pragma once

#include <emmintrin.h>

#include "dsp/LatticeStereoKernel.h"

namespace benchref {

// pairs[2j] = l[j], pairs[2j + 1] = r[j] for j < n4 (a multiple of 4).
inline void interleave(const float* l, const float* r, float* pairs, int n4)
{
    for (int j = 0; j < n4; j += 4) {
        const __m128 a = _mm_loadu_ps(l + j);
        const __m128 b = _mm_loadu_ps(r + j);
        _mm_store_ps(pairs + 2 * j, _mm_unpacklo_ps(a, b));
        _mm_store_ps(pairs + 2 * j + 4, _mm_unpackhi_ps(a, b));
    }
}

// The inverse of interleave.
inline void deinterleave(const float* pairs, float* l, float* r, int n4)
{
    for (int j = 0; j < n4; j += 4) {
        const __m128 a = _mm_load_ps(pairs + 2 * j);
        const __m128 b = _mm_load_ps(pairs + 2 * j + 4);
        _mm_storeu_ps(l + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(r + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
}

// The prediction pass of both lanes as the kernel then ran it, stage by stage in the exact
// order of CUnitWIIRLattice::process: u = C p0, acc = k0 u, then u = C pj + λ (k(j-1) z - u),
// acc += kj u, with z lagging the backward sum by two stages.
struct PredictionChainBefore {
    PredictionChainBefore(__m128 lambda, __m128 c) : lambda(lambda), c(c) {}

    inline void first(__m128 k0, __m128 p0)
    {
        u = _mm_mul_ps(c, p0);
        acc = _mm_mul_ps(k0, u);
        back = _mm_xor_ps(acc, _mm_set1_ps(-0.0f));
        z = _mm_setzero_ps();
    }

    inline void stage(__m128 kj, __m128 kLag, __m128 pj)
    {
        const __m128 uj =
            _mm_add_ps(_mm_mul_ps(c, pj), _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kLag, z), u)));
        z = back;
        const __m128 t = _mm_mul_ps(kj, uj);
        acc = _mm_add_ps(acc, t);
        back = _mm_sub_ps(back, t);
        u = uj;
    }

    const __m128 lambda, c;
    __m128 u, acc, back, z;
};

template <int Capacity>
// NOLINTNEXTLINE(readability-function-size): the old kernel as it was, to measure against
void processStereoLatticeBefore(usp::CUnitWIIRLattice<float, Capacity>& left,
                                usp::CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                                const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return;
    if (left.getOrder() != right.getOrder() || &left == &right) {
        for (int i = 0; i < n; ++i) {
            const float xl = inL[i];
            const float xr = inR[i];
            outL[i] = left.process(xl);
            outR[i] = right.process(xr);
        }
        return;
    }

    constexpr int kStride = usp::CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.getOrder();
    // Each array is laid out in groups of four, so whole groups can be read and written back
    // (entries past `count` come back unchanged).
    const int n4 = (left.getCount() + 3) & ~3;

    alignas(16) float kk[2 * kStride];
    alignas(16) float bufA[2 * kStride];
    alignas(16) float bufB[2 * kStride];
    interleave(left.getCoefficients(), right.getCoefficients(), kk, n4);
    interleave(left.stateToRead(), right.stateToRead(), bufA, n4);
    interleave(left.stateToWrite(), right.stateToWrite(), bufB, n4);

    const __m128 zero = _mm_setzero_ps();
    const __m128 lambda = skv::pairOf(left.getWarp(), right.getWarp());
    const __m128 c = skv::pairOf(left.getWarpComplement(), right.getWarpComplement());
    const __m128 g = skv::pairOf(left.getGain(), right.getGain());
    const __m128 signMask = _mm_set1_ps(-0.0f);

    float* p = bufA;  // read this sample
    float* q = bufB;  // written this sample, read by the next prediction

    // Prediction for the first sample, from the state as it stands.
    __m128 acc;
    {
        PredictionChainBefore chain(lambda, c);
        chain.first(skv::loadPair(kk), skv::loadPair(p));
        for (int j = 1; j < order; ++j)
            chain.stage(skv::loadPair(kk + 2 * j), skv::loadPair(kk + 2 * j - 2),
                        skv::loadPair(p + 2 * j));
        acc = chain.acc;
    }

    __m128 lastOut = zero;
    for (int i = 0; i < n; ++i) {
        const __m128 x = skv::pairOf(inL[i], inR[i]);
        const __m128 y = _mm_mul_ps(g, _mm_add_ps(x, acc));

        // Update pass of this sample, fused with the prediction pass of the next one. The
        // update chain (v) is the critical path. The prediction stage that reads v_j runs one
        // iteration later, so that in program order (which is also the order in which the
        // processor picks ready work) every update stage comes before the prediction work
        // of the stage before it; this is worth some 5 % at order 80.
        __m128 f = y;
        __m128 kPrev = skv::loadPair(kk);
        __m128 u = _mm_mul_ps(c, skv::loadPair(q));
        __m128 nextAcc = _mm_mul_ps(kPrev, u);
        __m128 back = _mm_xor_ps(nextAcc, signMask);
        __m128 z = zero;
        if (order > 1) {
            // Update stage 1.
            const __m128 p0 = skv::loadPair(p);
            __m128 pPrev = skv::loadPair(p + 2);
            __m128 v = _mm_add_ps(_mm_mul_ps(lambda, p0), y);
            {
                const __m128 m = _mm_sub_ps(p0, _mm_mul_ps(lambda, v));
                v = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(lambda, pPrev), m), _mm_mul_ps(f, kPrev));
                skv::storePair(q + 2, v);
                f = _mm_sub_ps(f, _mm_mul_ps(m, kPrev));
            }
            __m128 kLag = kPrev;  // k[j - 2] for the lagging prediction stage j - 1
            kPrev = skv::loadPair(kk + 2);
            for (int j = 2; j < order; ++j) {
                // Update stage j.
                const __m128 pj = skv::loadPair(p + 2 * j);
                const __m128 m = _mm_sub_ps(pPrev, _mm_mul_ps(lambda, v));
                const __m128 vLag = v;
                v = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(lambda, pj), m), _mm_mul_ps(f, kPrev));
                skv::storePair(q + 2 * j, v);
                f = _mm_sub_ps(f, _mm_mul_ps(m, kPrev));

                // Prediction stage j - 1 of the next sample, from v_(j-1).
                const __m128 uj = _mm_add_ps(
                    _mm_mul_ps(c, vLag), _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kLag, z), u)));
                z = back;
                const __m128 t = _mm_mul_ps(kPrev, uj);
                nextAcc = _mm_add_ps(nextAcc, t);
                back = _mm_sub_ps(back, t);
                u = uj;

                kLag = kPrev;
                kPrev = skv::loadPair(kk + 2 * j);
                pPrev = pj;
            }
            // Prediction stage order - 1.
            const __m128 uj = _mm_add_ps(_mm_mul_ps(c, v),
                                         _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kLag, z), u)));
            nextAcc = _mm_add_ps(nextAcc, _mm_mul_ps(kPrev, uj));
        }
        acc = nextAcc;

        // Outputs below the threshold are returned as 0; the state keeps the exact y.
        lastOut = skv::flushDenormal(y);
        skv::scatterPair(outL + i, outR + i, lastOut);

        float* t = p;
        p = q;
        q = t;
    }

    // Back into the lattices: p holds each lane's state for its next read.
    left.advance(n, skv::lane0(lastOut));
    right.advance(n, skv::lane1(lastOut));
    deinterleave(p, left.stateToRead(), right.stateToRead(), n4);
    deinterleave(q, left.stateToWrite(), right.stateToWrite(), n4);
}

}  // namespace benchref
