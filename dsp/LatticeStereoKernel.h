// Fused two-channel form of the warped lattice recursion, for the engine's filtering pass.
// The update pass of sample n and the prediction pass of sample n + 1 share one stage loop
// (prediction stage j needs only the state value update stage j writes), left and right run
// in two lanes of one SSE register, and each stage is reassociated so that a stage waits on
// the previous one for as few dependent operations as possible (see runFused below). The
// results therefore differ from CUnitWIIRLattice::process in the last bits. FMA is used where
// the processor has it, chosen once at load; SSE2 (the x86-64 baseline) otherwise.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

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

/// What processStereoLattice runs: the fused kernel with plain SSE2 multiplies and adds, or
/// with fused multiply-adds; or, as the reference, process() of each lattice in turn.
enum class LatticePath { kWritten, kSse2, kFma };

/// Whether this processor (and its operating system) can run `path`; all but kFma always.
bool latticePathAvailable(LatticePath path) noexcept;
/// The path processStereoLattice takes: kFma where available, else kSse2. The environment
/// variable SKV_LATTICE_PATH ("written", "sse2" or "fma"), read once when the library loads,
/// overrides that, so that a host can compare them; so does selectLatticePath.
LatticePath latticePath() noexcept;
/// Makes every later call take `path` (an unavailable one gives kSse2); returns the path now
/// in force. For tests and benchmarks; any thread, but not while a kernel call runs.
LatticePath selectLatticePath(LatticePath path) noexcept;

/// Runs n samples through both lattices: outL[i] and outR[i] are what left.process(inL[i])
/// and right.process(inR[i]) give, up to rounding (the recursion is reassociated), and the
/// lattices' state, ping-pong side, offset sign, output and revision move on as there.
/// Call on the audio thread with both locks held (as around the per-sample pass). Lattices of
/// different orders (or the same object twice) take process() itself, as kWritten does. The first
/// sample of each call recomputes its prediction (detail::PredictionChain), so coefficient
/// glides and order changes between calls are always picked up. Outputs may alias inputs. Nothing
/// here allocates. With `ready`, a prediction made for exactly the lattices' present revisions
/// replaces the first one (same values); any other is ignored.
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

// The prediction pass of both lanes, stage by stage: u = C p0, acc = k0 u, then
// u_j = (C p[j] − λk[j-1] acc_(j-2)) − λ u_(j-1), acc += k[j] u_j. This is the written
// u_j = C p[j] + λ (k[j-1] z − u_(j-1)) with z = −acc_(j-2) put in and λ multiplied out, so
// that u waits on u for one multiply and one subtraction instead of three operations (the
// first prediction of a call sits wholly on the critical path). Plain SSE2 arithmetic on
// every path, so that the glide, which runs it beside its own chain, prepares the very bits
// the kernel would compute.
struct PredictionChain {
    PredictionChain(__m128 lambda, __m128 c) : lambda(lambda), c(c) {}

    inline void first(__m128 k0, __m128 p0)
    {
        u = _mm_mul_ps(c, p0);
        acc = _mm_mul_ps(k0, u);
        accLag = _mm_setzero_ps();
    }

    inline void stage(__m128 kj, __m128 kLag, __m128 pj)
    {
        const __m128 uj =
            _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(c, pj), _mm_mul_ps(_mm_mul_ps(lambda, kLag), accLag)),
                       _mm_mul_ps(lambda, u));
        accLag = acc;
        acc = _mm_add_ps(acc, _mm_mul_ps(kj, uj));
        u = uj;
    }

    const __m128 lambda, c;
    __m128 u, acc;
    __m128 accLag;  // acc two stages back
};

// a·b + c and c − a·b as separate multiply and add (two roundings).
struct Sse2Arith {
    static __m128 mulAdd(__m128 a, __m128 b, __m128 c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
    static __m128 negMulAdd(__m128 a, __m128 b, __m128 c)
    {
        return _mm_sub_ps(c, _mm_mul_ps(a, b));
    }
};

// The same as fused multiply-adds (one rounding). Only ever inlined into the FMA entry below.
struct FmaArith {
    __attribute__((target("fma"))) static __m128 mulAdd(__m128 a, __m128 b, __m128 c)
    {
        return _mm_fmadd_ps(a, b, c);
    }
    __attribute__((target("fma"))) static __m128 negMulAdd(__m128 a, __m128 b, __m128 c)
    {
        return _mm_fnmadd_ps(a, b, c);
    }
};

// The stage loop, per sample (λ, C, k as in CUnitWIIRLattice::process; p read, q written).
// The written update stage spends four dependent operations on the chain from one stage to
// the next; each stage here is reassociated so that only what truly waits on the stage before
// stays on that chain.
//
// Update stage j as written: m = p[j-1] − λ·v, v' = (λ·p[j] + m) − f·k[j-1], f' = f − m·k[j-1].
// Here v' = X_j + m_j with X_j = λ·p[j] − k[j-1]·f_(j-1), and m_(j+1) = p[j] − λ·v_j is taken
// apart as (p[j] − λ·X_j) − λ·m_j; putting f_(j-1) = f_(j-2) − k[j-2]·m_(j-1) into X_j:
//     X_j     = (λ·p[j] − k[j-1]·f_(j-2)) + k[j-1]k[j-2]·m_(j-1)
//     v_j     = X_j + m_j                                         (stored; off the chain)
//     m_(j+1) = (p[j] − λ·X_j) − λ·m_j
//     f_(j-1) = f_(j-2) − k[j-2]·m_(j-1)                          (f runs a stage behind)
// The chain is now m_j → m_(j+1): one multiply and one subtraction (one FMA where available),
// against the four operations written (m, λ·v, the add, the f subtraction). X_j waits on
// m_(j-1), a stage earlier, and f on m two stages earlier: the loops through them cost two and
// a half and under three operations per stage. Which terms meet first matters for rounding
// here: with λ near 1, p[j-1] and λ·v_(j-1) nearly cancel, and the shorter forms that add
// p[j-1] to other terms before λ·v_(j-1) comes off (v_j = T_j − λ·v_(j-1) with
// T_j = λ·p[j] + p[j-1] − f·k[j-1], or f updated with k·p[j-1] and λk·v_(j-1) apart) gave two
// to six times the written order's rounding error; this one stays close to it (the tests).
// Its one weak spot is λ = 0: there m_(j+1) is p[j] exactly and X_j is −k[j-1]·f_(j-1)
// written as −k[j-1]·f_(j-2) + k[j-1]k[j-2]·m_(j-1), two rounded products (one of them of a
// rounded k·k) that nearly cancel wherever f_(j-1) is small beside f_(j-2), which large |k|
// makes common; in a resonant lattice that extra rounding grows to twice the written order's.
// At λ = 0 nothing is gained by it either (m leaves the chain, f alone sets the pace, one
// operation a stage), so both lanes at λ = 0 run the written update instead (kWarped false),
// which rounds exactly as process() does on the SSE2 path.
//
// Prediction stage j of the next sample, on q: u = C·q[j] + λ·(k[j-1]·z − u), z the backward
// sum two stages back, which is −acc_(j-2). So
//     u_j = (C·q[j] − λk[j-1]·acc_(j-2)) − λ·u_(j-1),   acc_j = acc_(j-1) + k[j]·u_j
// where the written form multiplied by λ after the subtraction: u waits on u for one
// multiply-subtract instead of three operations, and acc → u → acc closes over two stages.
//
// λ·k[j] and k[j]·k[j-1] are formed once per call. Prediction stage j runs one iteration behind
// update stage j, so that in program order (which is also the order in which the processor
// picks ready work) every update stage comes before the prediction work of the stage before
// it. What remains on the critical path of a sample: the m chain through all stages, the last
// prediction stage, and y = G·(x + acc).
template <class Arith, bool kWarped, int Capacity>
inline void runFused(CUnitWIIRLattice<float, Capacity>& left,
                     CUnitWIIRLattice<float, Capacity>& right, const float* inL, const float* inR,
                     float* outL, float* outR, int n, const StereoPrediction* ready)
{
    constexpr int kStride = CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.getOrder();
    // Each array is laid out in groups of four, so whole groups can be read and written back
    // (entries past `count` come back unchanged).
    const int n4 = (left.getCount() + 3) & ~3;

    // kk starts one group into its buffer, so that the pair before k[0] reads as k[-1] = 0.
    alignas(16) float kkBuf[2 * kStride + 4];
    _mm_store_ps(kkBuf, _mm_setzero_ps());
    float* const kk = kkBuf + 4;
    alignas(16) float lk[2 * kStride];   // λ·k[j]
    alignas(16) float kk2[2 * kStride];  // k[j]·k[j-1], 0 for j = 0
    alignas(16) float bufA[2 * kStride];
    alignas(16) float bufB[2 * kStride];
    interleave(left.getCoefficients(), right.getCoefficients(), kk, n4);
    interleave(left.stateToRead(), right.stateToRead(), bufA, n4);
    interleave(left.stateToWrite(), right.stateToWrite(), bufB, n4);
    const float warpL = left.getWarp();
    const float warpR = right.getWarp();
    const __m128 lambda4 = _mm_setr_ps(warpL, warpR, warpL, warpR);
    for (int j = 0; j < 2 * n4; j += 4) {
        _mm_store_ps(lk + j, _mm_mul_ps(lambda4, _mm_load_ps(kk + j)));
        _mm_store_ps(kk2 + j, _mm_mul_ps(_mm_load_ps(kk + j), _mm_loadu_ps(kk + j - 2)));
    }

    const __m128 zero = _mm_setzero_ps();
    const __m128 lambda = skv::pairOf(warpL, warpR);
    const __m128 c = skv::pairOf(left.getWarpComplement(), right.getWarpComplement());
    const __m128 g = skv::pairOf(left.getGain(), right.getGain());

    float* p = bufA;  // read this sample
    float* q = bufB;  // written this sample, read by the next prediction

    // Prediction for the first sample, from the state as it stands (the glide prepares the very
    // same values).
    __m128 acc;
    if (ready && ready->valid && ready->revisionL == left.getRevision() &&
        ready->revisionR == right.getRevision()) {
        acc = _mm_load_ps(ready->acc);
    }
    else {
        PredictionChain chain(lambda, c);
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

        // Stage 0. Update: v = λ·p[0] + y, f = y (and f a stage further back y, m 0), and the
        // m of stage 1.
        // Prediction: u = C·q[0], acc = k[0]·u (acc one stage further back 0).
        const __m128 p0 = skv::loadPair(p);
        __m128 v = Arith::mulAdd(lambda, p0, y);
        __m128 fLag = y;                             // f_(j-2) (λ = 0: f_(j-1))
        __m128 mLag = zero;                          // m_(j-1)
        __m128 m = Arith::negMulAdd(lambda, v, p0);  // m_j
        __m128 u = _mm_mul_ps(c, skv::loadPair(q));
        __m128 nextAcc = _mm_mul_ps(skv::loadPair(kk), u);
        __m128 accLag = zero;  // acc two prediction stages back

        // Update stage j (with the prediction stage before it, from j = 2 on). The coefficient
        // pairs are loaded where they are used, so that the registers hold the chains.
        for (int j = 1; j < order; ++j) {
            const float* const kj = kk + 2 * (j - 1);  // k[j-1]; k[j-2] sits just before it
            const __m128 pj = skv::loadPair(p + 2 * j);
            __m128 vNew, mNew;
            if constexpr (kWarped) {
                const __m128 x = Arith::mulAdd(
                    skv::loadPair(kk2 + 2 * (j - 1)), mLag,
                    Arith::negMulAdd(skv::loadPair(kj), fLag, _mm_mul_ps(lambda, pj)));
                vNew = _mm_add_ps(x, m);
                fLag = Arith::negMulAdd(skv::loadPair(kj - 2), mLag, fLag);
                mNew = Arith::negMulAdd(lambda, m, Arith::negMulAdd(lambda, x, pj));
            }
            else {
                // λ = 0: m is p[j-1] itself and f alone carries the chain, one operation a
                // stage, so the written order costs nothing here (and rounds as written).
                vNew = Arith::negMulAdd(skv::loadPair(kj), fLag, m);
                fLag = Arith::negMulAdd(skv::loadPair(kj), m, fLag);
                mNew = pj;
            }
            skv::storePair(q + 2 * j, vNew);

            if (j >= 2) {
                // Prediction stage j - 1 of the next sample, from v_(j-1).
                const __m128 uNew = Arith::negMulAdd(
                    lambda, u,
                    Arith::negMulAdd(skv::loadPair(lk + 2 * (j - 2)), accLag, _mm_mul_ps(c, v)));
                accLag = nextAcc;
                nextAcc = Arith::mulAdd(skv::loadPair(kj), uNew, nextAcc);
                u = uNew;
            }

            v = vNew;
            mLag = m;
            m = mNew;
        }
        // Prediction stage order - 1.
        {
            const __m128 uNew = Arith::negMulAdd(
                lambda, u,
                Arith::negMulAdd(skv::loadPair(lk + 2 * (order - 2)), accLag, _mm_mul_ps(c, v)));
            nextAcc = Arith::mulAdd(skv::loadPair(kk + 2 * (order - 1)), uNew, nextAcc);
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

template <int Capacity>
void runFusedSse2(CUnitWIIRLattice<float, Capacity>& left, CUnitWIIRLattice<float, Capacity>& right,
                  const float* inL, const float* inR, float* outL, float* outR, int n,
                  const StereoPrediction* ready)
{
    if (left.getWarp() == 0.0f && right.getWarp() == 0.0f)
        runFused<Sse2Arith, false>(left, right, inL, inR, outL, outR, n, ready);
    else
        runFused<Sse2Arith, true>(left, right, inL, inR, outL, outR, n, ready);
}

// flatten: everything called here is inlined here, where FMA instructions are allowed (a
// target-specific helper cannot be inlined into the generic runFused on its own).
template <int Capacity>
__attribute__((target("fma"), flatten)) void
runFusedFma(CUnitWIIRLattice<float, Capacity>& left, CUnitWIIRLattice<float, Capacity>& right,
            const float* inL, const float* inR, float* outL, float* outR, int n,
            const StereoPrediction* ready)
{
    if (left.getWarp() == 0.0f && right.getWarp() == 0.0f)
        runFused<FmaArith, false>(left, right, inL, inR, outL, outR, n, ready);
    else
        runFused<FmaArith, true>(left, right, inL, inR, outL, outR, n, ready);
}

}  // namespace detail

template <int Capacity>
void processStereoLattice(CUnitWIIRLattice<float, Capacity>& left,
                          CUnitWIIRLattice<float, Capacity>& right, const float* inL,
                          const float* inR, float* outL, float* outR, int n,
                          const StereoPrediction* ready)
{
    if (n <= 0)
        return;
    const LatticePath path = latticePath();
    if (left.getOrder() != right.getOrder() || &left == &right || path == LatticePath::kWritten) {
        for (int i = 0; i < n; ++i) {
            const float xl = inL[i];
            const float xr = inR[i];
            outL[i] = left.process(xl);
            outR[i] = right.process(xr);
        }
        return;
    }
    if (path == LatticePath::kFma)
        detail::runFusedFma(left, right, inL, inR, outL, outR, n, ready);
    else
        detail::runFusedSse2(left, right, inL, inR, outL, outR, n, ready);
}

}  // namespace usp
