// The fused stereo lattice kernel as it was before its recursion was reassociated (written
// operation order, four dependent operations per update stage), kept here only so that the
// benchmarks can measure the present kernel against it in the same run.
#pragma once

#include <emmintrin.h>

#include "dsp/LatticeStereoKernel.h"

namespace benchref {

template <int Capacity>
// NOLINTNEXTLINE(readability-function-size): the old kernel as it was, to measure against
void processStereoLatticeBefore(usp::CUnitWIIRLattice<float, Capacity>& left,
                                usp::CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                                const float* inR, float* outL, float* outR, int n,
                                const usp::StereoPrediction* ready = nullptr)
{
    if (n <= 0)
        return;
    if (left.order != right.order || &left == &right) {
        for (int i = 0; i < n; ++i) {
            const float xl = inL[i];
            const float xr = inR[i];
            outL[i] = left.process(xl);
            outR[i] = right.process(xr);
        }
        return;
    }

    constexpr int kStride = usp::CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.order;
    // Each array is laid out in groups of four, so whole groups can be read and written back
    // (entries past `count` come back unchanged).
    const int n4 = (left.count + 3) & ~3;

    alignas(16) float kk[2 * kStride];
    alignas(16) float bufA[2 * kStride];
    alignas(16) float bufB[2 * kStride];
    usp::detail::interleave(left.coeffs, right.coeffs, kk, n4);
    usp::detail::interleave(left.pingPong ? left.stateA : left.stateB,
                            right.pingPong ? right.stateA : right.stateB, bufA, n4);
    usp::detail::interleave(left.pingPong ? left.stateB : left.stateA,
                            right.pingPong ? right.stateB : right.stateA, bufB, n4);

    const __m128 zero = _mm_setzero_ps();
    const __m128 lambda = skv::pairOf(left.warp, right.warp);
    const __m128 c = skv::pairOf(left.warpComplement, right.warpComplement);
    const __m128 g = skv::pairOf(left.gain, right.gain);
    const __m128 signMask = _mm_set1_ps(-0.0f);

    float* p = bufA;  // read this sample
    float* q = bufB;  // written this sample, read by the next prediction

    // Prediction for the first sample, from the state as it stands.
    __m128 acc;
    if (ready && ready->valid && ready->revisionL == left.revision &&
        ready->revisionR == right.revision) {
        acc = _mm_load_ps(ready->acc);
    }
    else {
        usp::detail::PredictionChain chain(lambda, c);
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
    if ((n & 1) != 0) {
        left.pingPong = !left.pingPong;
        right.pingPong = !right.pingPong;
        left.denormalOffset = -left.denormalOffset;
        right.denormalOffset = -right.denormalOffset;
    }
    left.revision += static_cast<unsigned>(n);
    right.revision += static_cast<unsigned>(n);
    usp::detail::deinterleave(p, left.pingPong ? left.stateA : left.stateB,
                              right.pingPong ? right.stateA : right.stateB, n4);
    usp::detail::deinterleave(q, left.pingPong ? left.stateB : left.stateA,
                              right.pingPong ? right.stateB : right.stateA, n4);
    left.output = skv::lane0(lastOut);
    right.output = skv::lane1(lastOut);
}

}  // namespace benchref
