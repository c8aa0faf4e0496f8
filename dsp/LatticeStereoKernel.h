// Fused two-channel form of the warped lattice recursion, for the engine's filtering pass.
// The update pass of sample n and the prediction pass of sample n + 1 share one stage loop:
// prediction stage j reads the state value that update stage j has just written, and the
// input only enters at the end, so no operation is reordered and every result is
// bit-identical to CUnitWIIRLattice::process. Left and right run in two lanes of one SSE
// register (SSE2 is baseline on x86-64), which hides most of the update chain's latency.
#pragma once

#include <emmintrin.h>

#include "dsp/UnitWIIRLattice.h"

namespace usp {

/// Runs n samples through both lattices: outL[i] = left.process(inL[i]) and
/// outR[i] = right.process(inR[i]), with identical results and state afterwards.
/// Call on the audio thread with both locks held (as around the per-sample pass). Lattices of
/// different orders (or the same object twice) take the reference path. The first sample of
/// each call recomputes the prediction, so coefficient glides and order changes between calls
/// are always picked up. Outputs may alias inputs. Nothing here allocates.
template <int Capacity>
void processStereoLattice(CUnitWIIRLattice<float, Capacity>& left,
                          CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                          const float* inR, float* outL, float* outR, int n);

// ---------------------------------------------------------------------------------------------

namespace detail {

inline __m128 pairOf(float l, float r)
{
    return _mm_setr_ps(l, r, 0.0f, 0.0f);
}

} // namespace detail

template <int Capacity>
void processStereoLattice(CUnitWIIRLattice<float, Capacity>& left,
                          CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                          const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return;
    if (left.order != right.order || &left == &right)
    {
        for (int i = 0; i < n; ++i)
        {
            const float xl = inL[i];
            const float xr = inR[i];
            outL[i] = left.process(xl);
            outR[i] = right.process(xr);
        }
        return;
    }

    constexpr int kStride = CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.order;
    const int count = left.count;

    // Lane 0 is left, lane 1 right; lanes 2 and 3 stay zero throughout.
    __m128 kk[kStride];
    __m128 bufA[kStride];
    __m128 bufB[kStride];
    const float* pl = left.pingPong ? left.stateA : left.stateB;
    const float* ql = left.pingPong ? left.stateB : left.stateA;
    const float* pr = right.pingPong ? right.stateA : right.stateB;
    const float* qr = right.pingPong ? right.stateB : right.stateA;
    for (int j = 0; j < count; ++j)
    {
        kk[j] = detail::pairOf(left.coeffs[j], right.coeffs[j]);
        bufA[j] = detail::pairOf(pl[j], pr[j]);
        bufB[j] = detail::pairOf(ql[j], qr[j]);
    }
    const __m128 lambda = detail::pairOf(left.warp, right.warp);
    const __m128 c = detail::pairOf(left.warpComplement, right.warpComplement);
    const __m128 g = detail::pairOf(left.gain, right.gain);
    const __m128 signMask = _mm_set1_ps(-0.0f);
    const __m128 threshold = _mm_set1_ps(skv::kDenormalThreshold);

    __m128* p = bufA; // read this sample
    __m128* q = bufB; // written this sample, read by the next prediction

    // Prediction for the first sample, from the state as it stands.
    __m128 acc;
    {
        __m128 u = _mm_mul_ps(c, p[0]);
        acc = _mm_mul_ps(kk[0], u);
        __m128 back = _mm_xor_ps(acc, signMask);
        __m128 z = _mm_setzero_ps();
        for (int j = 1; j < order; ++j)
        {
            const __m128 uj = _mm_add_ps(
                _mm_mul_ps(c, p[j]),
                _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kk[j - 1], z), u)));
            z = back;
            const __m128 t = _mm_mul_ps(kk[j], uj);
            acc = _mm_add_ps(acc, t);
            back = _mm_sub_ps(back, t);
            u = uj;
        }
    }

    __m128 lastOut = _mm_setzero_ps();
    for (int i = 0; i < n; ++i)
    {
        const __m128 x = detail::pairOf(inL[i], inR[i]);
        const __m128 y = _mm_mul_ps(g, _mm_add_ps(x, acc));

        // Update pass of this sample, fused with the prediction pass of the next one.
        __m128 v = _mm_add_ps(_mm_mul_ps(lambda, p[0]), y);
        __m128 f = y;
        __m128 u = _mm_mul_ps(c, q[0]);
        __m128 nextAcc = _mm_mul_ps(kk[0], u);
        __m128 back = _mm_xor_ps(nextAcc, signMask);
        __m128 z = _mm_setzero_ps();
        for (int j = 1; j < order; ++j)
        {
            const __m128 kPrev = kk[j - 1];
            const __m128 m = _mm_sub_ps(p[j - 1], _mm_mul_ps(lambda, v));
            v = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(lambda, p[j]), m), _mm_mul_ps(f, kPrev));
            q[j] = v;
            f = _mm_sub_ps(f, _mm_mul_ps(m, kPrev));

            const __m128 uj = _mm_add_ps(
                _mm_mul_ps(c, v), _mm_mul_ps(lambda, _mm_sub_ps(_mm_mul_ps(kPrev, z), u)));
            z = back;
            const __m128 t = _mm_mul_ps(kk[j], uj);
            nextAcc = _mm_add_ps(nextAcc, t);
            back = _mm_sub_ps(back, t);
            u = uj;
        }
        acc = nextAcc;

        // Outputs below the threshold are returned as 0; the state keeps the exact y.
        const __m128 small = _mm_cmplt_ps(_mm_andnot_ps(signMask, y), threshold);
        lastOut = _mm_andnot_ps(small, y);
        outL[i] = _mm_cvtss_f32(lastOut);
        outR[i] = _mm_cvtss_f32(_mm_shuffle_ps(lastOut, lastOut, _MM_SHUFFLE(1, 1, 1, 1)));

        __m128* t = p;
        p = q;
        q = t;
    }

    // Back into the lattices: p holds each lane's state for its next read.
    const bool odd = (n & 1) != 0;
    left.pingPong = odd ? !left.pingPong : left.pingPong;
    right.pingPong = odd ? !right.pingPong : right.pingPong;
    if (odd)
    {
        left.denormalOffset = -left.denormalOffset;
        right.denormalOffset = -right.denormalOffset;
    }
    float* nextL = left.pingPong ? left.stateA : left.stateB;
    float* otherL = left.pingPong ? left.stateB : left.stateA;
    float* nextR = right.pingPong ? right.stateA : right.stateB;
    float* otherR = right.pingPong ? right.stateB : right.stateA;
    alignas(16) float lanes[4];
    for (int j = 0; j < count; ++j)
    {
        _mm_store_ps(lanes, p[j]);
        nextL[j] = lanes[0];
        nextR[j] = lanes[1];
        _mm_store_ps(lanes, q[j]);
        otherL[j] = lanes[0];
        otherR[j] = lanes[1];
    }
    _mm_store_ps(lanes, lastOut);
    left.output = lanes[0];
    right.output = lanes[1];
}

} // namespace usp
