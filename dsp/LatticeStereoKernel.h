// Fused two-channel form of the warped lattice recursion, for the engine's filtering pass.
// The update pass of sample n and the prediction pass of sample n + 1 share one stage loop:
// prediction stage j needs nothing but the state value update stage j writes (it runs one
// stage behind it), and the input only enters at the end, so no operation is reordered and
// every result is bit-identical to CUnitWIIRLattice::process. The prediction then runs in
// the shadow of the update chain (one multiply and three adds per stage), and left and right
// share that chain in two lanes of one SSE register (SSE2 is baseline on x86-64).
#pragma once

#include <emmintrin.h>

#include "dsp/Denormal.h"
#include "dsp/LanePairs.h"
#include "dsp/UnitWIIRLattice.h"

namespace usp {

/// The prediction for the next sample of a pair of lattices (both lanes), computed ahead of
/// time together with the coefficient glide, whose latency it hides. It holds only while
/// neither lattice has changed since: the kernel checks the two revisions.
struct StereoPrediction {
    alignas(16) float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    unsigned revisionL = 0;
    unsigned revisionR = 0;
    bool valid = false;
};

/// Runs n samples through both lattices: outL[i] = left.process(inL[i]) and
/// outR[i] = right.process(inR[i]), with identical results and state afterwards.
/// Call on the audio thread with both locks held (as around the per-sample pass). Lattices of
/// different orders (or the same object twice) take the reference path. The first sample of
/// each call recomputes the prediction, so coefficient glides and order changes between calls
/// are always picked up. Outputs may alias inputs. Nothing here allocates.
/// With `ready`, a prediction made for exactly the lattices' present revisions replaces the
/// first one (same values); any other is ignored.
template <int Capacity>
void processStereoLattice(CUnitWIIRLattice<float, Capacity>& left,
                          CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                          const float* inR, float* outL, float* outR, int n,
                          const StereoPrediction* ready = nullptr);

// ---------------------------------------------------------------------------------------------

namespace detail {

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

// The prediction pass of both lanes, stage by stage, in the exact order of
// CUnitWIIRLattice::process: u = C p0, acc = k0 u, then u = C pj + λ (k(j-1) z - u),
// acc += kj u, with z lagging the backward sum by two stages.
struct PredictionChain {
    PredictionChain(__m128 lambda, __m128 c) : lambda(lambda), c(c) {}

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

}  // namespace detail

template <int Capacity>
void processStereoLattice(CUnitWIIRLattice<float, Capacity>& left,
                          CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                          const float* inR, float* outL, float* outR, int n,
                          const StereoPrediction* ready)
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

    constexpr int kStride = CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.order;
    // Each array is laid out in groups of four, so whole groups can be read and written back
    // (entries past `count` come back unchanged).
    const int n4 = (left.count + 3) & ~3;

    alignas(16) float kk[2 * kStride];
    alignas(16) float bufA[2 * kStride];
    alignas(16) float bufB[2 * kStride];
    detail::interleave(left.coeffs, right.coeffs, kk, n4);
    detail::interleave(left.pingPong ? left.stateA : left.stateB,
                       right.pingPong ? right.stateA : right.stateB, bufA, n4);
    detail::interleave(left.pingPong ? left.stateB : left.stateA,
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
        detail::PredictionChain chain(lambda, c);
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
    detail::deinterleave(p, left.pingPong ? left.stateA : left.stateB,
                         right.pingPong ? right.stateA : right.stateB, n4);
    detail::deinterleave(q, left.pingPong ? left.stateB : left.stateA,
                         right.pingPong ? right.stateB : right.stateA, n4);
    left.output = skv::lane0(lastOut);
    right.output = skv::lane1(lastOut);
}

}  // namespace usp
