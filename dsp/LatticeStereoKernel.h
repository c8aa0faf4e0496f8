// Fused two-channel form of the warped lattice recursion, for the engine's filtering pass.
// The update pass of sample n and the prediction pass of sample n + 1 share one stage loop
// (prediction stage j needs only the state value update stage j writes), left and right run
// as two doubles in one SSE register, and each stage is reassociated so that a stage waits on
// the previous one for as few dependent operations as possible (see runFused below). The
// results therefore differ from CUnitWIIRLattice::process in the last bits (they are closer to
// the exact recursion). FMA is used where the processor has it, chosen once at load; SSE2 (the
// x86-64 baseline) otherwise.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

#include "dsp/Denormal.h"
#include "dsp/LanePairs.h"
#include "dsp/UnitWIIRLattice.h"

namespace usp {

/// The prediction for the next sample of a pair of lattices (left, right; in the kernel's
/// double precision), computed ahead of time together with the coefficient glide, whose
/// latency it hides. It holds only while neither lattice has changed since: the kernel checks
/// the two revisions.
struct StereoPrediction {
    alignas(16) double acc[2] = {0.0, 0.0};
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
/// and right.process(inR[i]) give, up to rounding (the recursion is reassociated and runs in
/// double precision inside a call), and the lattices' state (rounded back to float at the end
/// of the call), ping-pong side, offset sign, output and revision move on as there.
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

// The kernel holds both lanes' values as a pair of doubles in one SSE register (lane 0 left,
// lane 1 right): the same instructions, at the same cost, as the two low lanes of a float
// register, but the products of two coefficients it forms (λ·k[j], k[j]·k[j-1]) are exact, and
// its sums round 2^29 times finer. The state goes back to float between calls.

inline __m128d pairOf(float a, float b)
{
    return _mm_setr_pd(static_cast<double>(a), static_cast<double>(b));
}

// The float pair in lanes 0 and 1 of v, widened.
inline __m128d widen(__m128 v)
{
    return _mm_cvtps_pd(v);
}

// pairs[2j] = l[j], pairs[2j + 1] = r[j], widened, for j < n4 (a multiple of 4).
inline void widenInterleaved(const float* l, const float* r, double* pairs, int n4)
{
    for (int j = 0; j < n4; j += 4) {
        const __m128 a = _mm_loadu_ps(l + j);
        const __m128 b = _mm_loadu_ps(r + j);
        const __m128 first = _mm_unpacklo_ps(a, b);   // l0 r0 l1 r1
        const __m128 second = _mm_unpackhi_ps(a, b);  // l2 r2 l3 r3
        _mm_store_pd(pairs + 2 * j, _mm_cvtps_pd(first));
        _mm_store_pd(pairs + 2 * j + 2, _mm_cvtps_pd(_mm_movehl_ps(first, first)));
        _mm_store_pd(pairs + 2 * j + 4, _mm_cvtps_pd(second));
        _mm_store_pd(pairs + 2 * j + 6, _mm_cvtps_pd(_mm_movehl_ps(second, second)));
    }
}

// The products of coefficients the stage loop uses, from the widened pairs kk (kk[-1] must
// hold 0): lk[j] = λ·k[j] (exact) and lkk[j] = λk[j]·k[j-1].
inline void coefficientProducts(const double* kk, __m128d lambda, double* lk, double* lkk, int n4)
{
    for (int j = 0; j < 2 * n4; j += 2) {
        const __m128d l = _mm_mul_pd(lambda, _mm_load_pd(kk + j));
        _mm_store_pd(lk + j, l);
        _mm_store_pd(lkk + j, _mm_mul_pd(l, _mm_load_pd(kk + j - 2)));
    }
}

// The inverse of widenInterleaved, each value rounded to the nearest float.
inline void narrowDeinterleaved(const double* pairs, float* l, float* r, int n4)
{
    for (int j = 0; j < n4; j += 4) {
        const __m128 first = _mm_movelh_ps(_mm_cvtpd_ps(_mm_load_pd(pairs + 2 * j)),
                                           _mm_cvtpd_ps(_mm_load_pd(pairs + 2 * j + 2)));
        const __m128 second = _mm_movelh_ps(_mm_cvtpd_ps(_mm_load_pd(pairs + 2 * j + 4)),
                                            _mm_cvtpd_ps(_mm_load_pd(pairs + 2 * j + 6)));
        _mm_storeu_ps(l + j, _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(r + j, _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
    }
}

// The prediction pass of both lanes, stage by stage: u = C p0, acc = k0 u, then, as written,
// u_j = C p[j] + λ (k[j-1] z − u_(j-1)) with z = −acc_(j-2), and acc += k[j] u_j. Here λ is
// multiplied out and acc_(j-2) taken apart as acc_(j-3) + k[j-2] u_(j-2):
//     u_j = ((C p[j] − λk[j-1]·acc_(j-3)) − λk[j-1]k[j-2]·u_(j-2)) − λ·u_(j-1)
// so that u waits on u for one multiply and one subtraction, and on acc_(j-3) and u_(j-2),
// from stages further back, for no more per stage (the first prediction of a call sits
// wholly on the critical path). Plain SSE2 arithmetic on every path, so that the glide, which
// runs it beside its own chain on the float values it has just computed, prepares the very
// bits the kernel would compute.
struct PredictionChain {
    PredictionChain(__m128d lambda, __m128d c) : lambda(lambda), c(c) {}
    PredictionChain(__m128 lambda, __m128 c) : lambda(widen(lambda)), c(widen(c)) {}

    inline void first(__m128d k0, __m128d p0)
    {
        u = _mm_mul_pd(c, p0);
        acc = _mm_mul_pd(k0, u);
        uLag = accLag = accLag2 = kLag2 = _mm_setzero_pd();
    }
    inline void first(__m128 k0, __m128 p0) { first(widen(k0), widen(p0)); }

    // kj = k[j], kLag = k[j-1].
    inline void stage(__m128d kj, __m128d kLag, __m128d pj)
    {
        const __m128d lk = _mm_mul_pd(lambda, kLag);
        const __m128d uj =
            _mm_sub_pd(_mm_sub_pd(_mm_sub_pd(_mm_mul_pd(c, pj), _mm_mul_pd(lk, accLag2)),
                                  _mm_mul_pd(_mm_mul_pd(lk, kLag2), uLag)),
                       _mm_mul_pd(lambda, u));
        accLag2 = accLag;
        accLag = acc;
        acc = _mm_add_pd(acc, _mm_mul_pd(kj, uj));
        uLag = u;
        u = uj;
        kLag2 = kLag;
    }
    inline void stage(__m128 kj, __m128 kLag, __m128 pj)
    {
        stage(widen(kj), widen(kLag), widen(pj));
    }

    const __m128d lambda, c;
    __m128d u, acc;
    __m128d uLag;     // u one stage back
    __m128d accLag;   // acc one stage back
    __m128d accLag2;  // acc two stages back
    __m128d kLag2;    // k[j-2] for the next stage
};

// a·b + c and c − a·b as separate multiply and add (two roundings).
struct Sse2Arith {
    static __m128d mulAdd(__m128d a, __m128d b, __m128d c)
    {
        return _mm_add_pd(_mm_mul_pd(a, b), c);
    }
    static __m128d negMulAdd(__m128d a, __m128d b, __m128d c)
    {
        return _mm_sub_pd(c, _mm_mul_pd(a, b));
    }
};

// The same as fused multiply-adds (one rounding). Only ever inlined into the FMA entry below.
struct FmaArith {
    __attribute__((target("fma"))) static __m128d mulAdd(__m128d a, __m128d b, __m128d c)
    {
        return _mm_fmadd_pd(a, b, c);
    }
    __attribute__((target("fma"))) static __m128d negMulAdd(__m128d a, __m128d b, __m128d c)
    {
        return _mm_fnmadd_pd(a, b, c);
    }
};

inline __m128d loadPairD(const double* p)
{
    return _mm_load_pd(p);
}

// The stage loop, per sample (λ, C, k as in CUnitWIIRLattice::process; p read, q written).
// The written update stage spends four dependent operations on the chain from one stage to
// the next; each stage here is reassociated so that only what truly waits on the stage before
// stays on that chain.
//
// Update stage j as written: m = p[j-1] − λ·v, v' = (λ·p[j] + m) − f·k[j-1], f' = f − m·k[j-1].
// With m_j, v_j, f_j the values of stage j, m_(j+1) = p[j] − λ·v_j has λ multiplied out, and
// f_(j-1) = f_(j-2) − k[j-2]·m_(j-1) put in:
//     m_(j+1) = ((p[j] − λ·λp[j]) + λk[j-1]·f_(j-2)) − λk[j-1]k[j-2]·m_(j-1) − λ·m_j
//     f_(j-1) = f_(j-2) − k[j-2]·m_(j-1)                          (f runs a stage behind)
//     v_j     = (λ·p[j] − k[j-1]·f_(j-1)) + m_j                   (stored; off the chain)
// m waits on the m before it for one multiply-subtract (one FMA where available), on the one
// before that for two over two stages, and through f (m_(j-1) → f_(j-1) → m_(j+2)) for four
// over three stages, against the four dependent operations written (m, λ·v, the add, the f
// subtraction) in every stage.
//
// Prediction stage j of the next sample, on q: u = C·q[j] + λ·(k[j-1]·z − u), z the backward
// sum two stages back, which is −acc_(j-2). So
//     u_j = (C·q[j] − λk[j-1]·acc_(j-2)) − λ·u_(j-1),   acc_j = acc_(j-1) + k[j]·u_j
// where the written form multiplied by λ after the subtraction: u waits on u for one
// multiply-subtract instead of three operations, and acc → u → acc closes over two stages.
// (Taking acc_(j-2) apart as PredictionChain does would shorten that loop too, but costs two
// more operations a stage, which this loop, busy with the update beside it, cannot spare: it
// measured slower.)
//
// Why double lanes: in float, the products λ·k[j] and λk[j]·k[j-1] formed once per call are
// rounded, which is a small change of the filter itself, not noise; a resonant lattice
// (coefficients near ±0.9, order 40 and more) magnifies it, and float forms of these formulas
// reached three times the written order's own error against an exact lattice. Expansions like
// the one of f_(j-1) above also add products that nearly cancel wherever f_(j-1) is small
// beside f_(j-2). In double all of this is far below the float rounding of the state that goes
// back between calls, so the kernel's error is that of the written order or less.
//
// At λ = 0 the m chain disappears (m is p[j-1] itself) and f alone sets the pace at one
// operation a stage, so both lanes at λ = 0 run the written update instead (kWarped false).
//
// λ·k[j] and λk[j]·k[j-1] are formed once per call. Prediction stage j runs one iteration behind
// update stage j, so that in program order (which is also the order in which the processor
// picks ready work) every update stage comes before the prediction work of the stage before
// it. What remains on the critical path of a sample: the m chain through all stages, the last
// prediction stage, and y = G·(x + acc).
template <class Arith, bool kWarped, int Capacity>
// NOLINTNEXTLINE(readability-function-size): one chain kept in registers; split, it spills
inline void runFused(CUnitWIIRLattice<float, Capacity>& left,
                     CUnitWIIRLattice<float, Capacity>& right, const float* inL, const float* inR,
                     float* outL, float* outR, int n, const StereoPrediction* ready)
{
    constexpr int kStride = CUnitWarpedLatticeBase<float, Capacity>::kMaxStride;
    const int order = left.getOrder();
    // Each array is laid out in groups of four, so whole groups can be read and written back
    // (entries past `count` come back unchanged: float → double → float is exact).
    const int n4 = (left.getCount() + 3) & ~3;

    // kk starts one pair into its buffer, so that the pair before k[0] reads as k[-1] = 0.
    alignas(16) double kkBuf[2 * kStride + 2];
    _mm_store_pd(kkBuf, _mm_setzero_pd());
    double* const kk = kkBuf + 2;
    alignas(16) double lk[2 * kStride];   // λ·k[j]
    alignas(16) double lkk[2 * kStride];  // λ·k[j]·k[j-1], 0 for j = 0
    alignas(16) double bufA[2 * kStride];
    alignas(16) double bufB[2 * kStride];
    const __m128d lambda = pairOf(left.getWarp(), right.getWarp());
    const __m128d c = pairOf(left.getWarpComplement(), right.getWarpComplement());
    const __m128d g = pairOf(left.getGain(), right.getGain());
    widenInterleaved(left.getCoefficients(), right.getCoefficients(), kk, n4);
    coefficientProducts(kk, lambda, lk, lkk, n4);
    widenInterleaved(left.stateToRead(), right.stateToRead(), bufA, n4);
    widenInterleaved(left.stateToWrite(), right.stateToWrite(), bufB, n4);

    const __m128d zero = _mm_setzero_pd();
    double* p = bufA;  // read this sample
    double* q = bufB;  // written this sample, read by the next prediction

    // Prediction for the first sample, from the state as it stands (the glide prepares the very
    // same values).
    __m128d acc;
    if (ready && ready->valid && ready->revisionL == left.getRevision() &&
        ready->revisionR == right.getRevision()) {
        acc = _mm_load_pd(ready->acc);
    }
    else {
        PredictionChain chain(lambda, c);
        chain.first(loadPairD(kk), loadPairD(p));
        for (int j = 1; j < order; ++j)
            chain.stage(loadPairD(kk + 2 * j), loadPairD(kk + 2 * j - 2), loadPairD(p + 2 * j));
        acc = chain.acc;
    }

    __m128 lastOut = _mm_setzero_ps();
    for (int i = 0; i < n; ++i) {
        const __m128d y = _mm_mul_pd(g, _mm_add_pd(pairOf(inL[i], inR[i]), acc));

        // Stage 0. Update: v = λ·p[0] + y, f = y (and f a stage further back y, m 0), and the
        // m of stage 1.
        // Prediction: u = C·q[0], acc = k[0]·u (acc one stage further back 0).
        const __m128d p0 = loadPairD(p);
        __m128d v = Arith::mulAdd(lambda, p0, y);
        __m128d fLag = y;                             // f_(j-2) (λ = 0: f_(j-1))
        __m128d mLag = zero;                          // m_(j-1)
        __m128d m = Arith::negMulAdd(lambda, v, p0);  // m_j
        __m128d u = _mm_mul_pd(c, loadPairD(q));
        __m128d nextAcc = _mm_mul_pd(loadPairD(kk), u);
        __m128d accLag = zero;  // acc two prediction stages back

        // Update stage j (with the prediction stage before it, from j = 2 on). The coefficient
        // pairs are loaded where they are used, so that the registers hold the chains.
        for (int j = 1; j < order; ++j) {
            const double* const kj = kk + 2 * (j - 1);  // k[j-1]; k[j-2] sits just before it
            const __m128d pj = loadPairD(p + 2 * j);
            __m128d vNew, mNew;
            if constexpr (kWarped) {
                const __m128d lp = _mm_mul_pd(lambda, pj);
                const __m128d b = Arith::mulAdd(loadPairD(lk + 2 * (j - 1)), fLag,
                                                Arith::negMulAdd(lambda, lp, pj));
                const __m128d d = Arith::negMulAdd(loadPairD(lkk + 2 * (j - 1)), mLag, b);
                fLag = Arith::negMulAdd(loadPairD(kj - 2), mLag, fLag);
                vNew = _mm_add_pd(Arith::negMulAdd(loadPairD(kj), fLag, lp), m);
                mNew = Arith::negMulAdd(lambda, m, d);
            }
            else {
                // λ = 0: m is p[j-1] itself and f alone carries the chain, one operation a
                // stage, so the written order costs nothing here.
                vNew = Arith::negMulAdd(loadPairD(kj), fLag, m);
                fLag = Arith::negMulAdd(loadPairD(kj), m, fLag);
                mNew = pj;
            }
            _mm_store_pd(q + 2 * j, vNew);

            if (j >= 2) {
                // Prediction stage j - 1 of the next sample, from v_(j-1).
                const __m128d uNew = Arith::negMulAdd(
                    lambda, u,
                    Arith::negMulAdd(loadPairD(lk + 2 * (j - 2)), accLag, _mm_mul_pd(c, v)));
                accLag = nextAcc;
                nextAcc = Arith::mulAdd(loadPairD(kj), uNew, nextAcc);
                u = uNew;
            }

            v = vNew;
            mLag = m;
            m = mNew;
        }
        // Prediction stage order - 1.
        {
            const __m128d uNew = Arith::negMulAdd(
                lambda, u,
                Arith::negMulAdd(loadPairD(lk + 2 * (order - 2)), accLag, _mm_mul_pd(c, v)));
            nextAcc = Arith::mulAdd(loadPairD(kk + 2 * (order - 1)), uNew, nextAcc);
        }
        acc = nextAcc;

        // Outputs below the threshold are returned as 0; the state keeps the exact y.
        lastOut = skv::flushDenormal(_mm_cvtpd_ps(y));
        skv::scatterPair(outL + i, outR + i, lastOut);

        double* t = p;
        p = q;
        q = t;
    }

    // Back into the lattices: p holds each lane's state for its next read.
    left.advance(n, skv::lane0(lastOut));
    right.advance(n, skv::lane1(lastOut));
    narrowDeinterleaved(p, left.stateToRead(), right.stateToRead(), n4);
    narrowDeinterleaved(q, left.stateToWrite(), right.stateToWrite(), n4);
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
